// The system's trusted roots on Windows: the certificates of the "ROOT"
// store, as Windows itself trusts them, copied into OpenSSL's store.
#include <windows.h>
#include <wincrypt.h>

#include <openssl/ssl.h>
#include <openssl/x509.h>

#include "ftp/iohandler/NetTlsContext.h"

bool LoadSystemRoots(SSL_CTX* ctx) {
    HCERTSTORE store = CertOpenSystemStoreW(0, L"ROOT");
    if (!store) return false;
    X509_STORE* roots = SSL_CTX_get_cert_store(ctx);
    int added = 0;
    const CERT_CONTEXT* cert = nullptr;
    while ((cert = CertEnumCertificatesInStore(store, cert)) != nullptr) {
        const unsigned char* der = cert->pbCertEncoded;
        X509* x = d2i_X509(nullptr, &der, static_cast<long>(cert->cbCertEncoded));
        if (!x) continue;
        if (X509_STORE_add_cert(roots, x) == 1) ++added;
        X509_free(x);
    }
    CertCloseStore(store, 0);
    return added > 0;
}
