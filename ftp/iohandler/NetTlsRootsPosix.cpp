// The system's trusted roots on Linux: OpenSSL's default locations
// (Debian's /etc/ssl/certs, or SSL_CERT_FILE / SSL_CERT_DIR).
#include <openssl/ssl.h>

#include "ftp/iohandler/NetTlsContext.h"

bool LoadSystemRoots(SSL_CTX* ctx) { return SSL_CTX_set_default_verify_paths(ctx) == 1; }
