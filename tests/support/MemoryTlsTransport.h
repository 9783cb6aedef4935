#pragma once
// The in-memory server of MemoryTransport.h, speaking explicit FTPS: its
// control script goes out in clear up to and including the first line that
// starts with "234", and once the client starts its handshake the rest of
// the script goes out inside TLS. Data connections are TLS and may resume the
// control connection's session. The server's key and certificate are made
// once per process; the client trusts them by pin (MemoryTlsPin). Header-only,
// for the whole-exchange fuzzer and tests.
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "tests/support/MemoryTransport.h"

namespace qz::test {

// One server context for the process: a P-256 key and a self-signed
// certificate for 127.0.0.1, and OpenSSL's session cache for resumption.
inline SSL_CTX* MemoryTlsServerContext() {
    static SSL_CTX* ctx = [] {
        EVP_PKEY* key = EVP_EC_gen("P-256");
        X509* cert = X509_new();
        if (!key || !cert) std::abort();
        ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
        X509_gmtime_adj(X509_getm_notAfter(cert), 3600L * 24 * 365);
        X509_NAME* name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"),
                                   -1, -1, 0);
        X509_set_issuer_name(cert, name);
        X509_set_pubkey(cert, key);
        X509_sign(cert, key, EVP_sha256());
        SSL_CTX* c = SSL_CTX_new(TLS_server_method());
        if (!c || SSL_CTX_use_certificate(c, cert) != 1 || SSL_CTX_use_PrivateKey(c, key) != 1) std::abort();
        SSL_CTX_set_session_id_context(c, reinterpret_cast<const unsigned char*>("qz"), 2);
        X509_free(cert);
        EVP_PKEY_free(key);
        return c;
    }();
    return ctx;
}

// The client's pin for that certificate ("cert:HEX").
inline std::string MemoryTlsPin() {
    SSL* probe = SSL_new(MemoryTlsServerContext());
    X509* cert = SSL_get_certificate(probe);
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    X509_digest(cert, EVP_sha256(), md, &n);
    SSL_free(probe);
    std::string pin = "cert:";
    char two[3];
    for (unsigned int i = 0; i < n; ++i) {
        std::snprintf(two, sizeof two, "%02x", md[i]);
        pin += two;
    }
    return pin;
}

// The plain transport with TLS put in after AUTH TLS on the control
// connection and from the first byte on data connections.
class MemoryTlsIOHandler : public MemoryIOHandler {
public:
    using MemoryIOHandler::MemoryIOHandler;
    ~MemoryTlsIOHandler() override { Reset(); }

    void Open() override { Reset(); }
    void Close() override { Reset(); }
    void ConnectClient(const std::string& host, int port, const std::string& bindIP, int bindPort,
                       int timeout) override {
        MemoryIOHandler::ConnectClient(host, port, bindIP, bindPort, timeout);
        // A data connection is TLS from its first byte.
        if (!control_) StartTls();
    }
    long long Send(const char* data, std::size_t size) override {
        const long long taken = Taken(size);
        if (taken < 0) return taken;
        const auto n = static_cast<std::size_t>(taken);
        // What follows the client's AUTH TLS is its handshake.
        if (!ssl_ && control_ && authSent_) StartTls();
        if (!ssl_) {
            Keep(data, n);
            if (control_ && std::string_view(data, n).substr(0, 4) == "AUTH") authSent_ = true;
            return taken;
        }
        BIO_write(in_, data, static_cast<int>(n));
        Serve();
        return taken;
    }
    long long Recv(char* data, std::size_t size) override {
        if (!connected_) throw ENetClosedSocket();
        if (!ssl_) return RecvScript(data, size, PlainEnd());
        Serve();
        int n = BIO_read(out_, data, static_cast<int>(std::min(size, std::max<std::size_t>(1, server_.piece))));
        return n > 0 ? n : 0;  // nothing more: the end of the stream
    }

private:
    // Where the clear part of the script ends: after the first "234" line.
    std::size_t PlainEnd() const {
        std::string_view script = server_.control;
        for (std::size_t at = 0; at < script.size();) {
            std::size_t eol = script.find('\n', at);
            std::size_t next = eol == std::string_view::npos ? script.size() : eol + 1;
            if (script.substr(at, 3) == "234") return next;
            at = next;
        }
        return script.size();
    }

    void StartTls() {
        ssl_ = SSL_new(MemoryTlsServerContext());
        in_ = BIO_new(BIO_s_mem());
        out_ = BIO_new(BIO_s_mem());
        BIO_set_mem_eof_return(in_, -1);
        SSL_set_bio(ssl_, in_, out_);
        SSL_set_accept_state(ssl_);
    }

    // Moves the server on: the handshake, the client's bytes taken, and on
    // the control connection the rest of the script sent inside TLS.
    void Serve() {
        char buf[16384];
        while (true) {
            int r = SSL_read(ssl_, buf, sizeof buf);
            if (r > 0) {
                Keep(buf, static_cast<std::size_t>(r));
                continue;
            }
            int e = SSL_get_error(ssl_, r);
            if (e == SSL_ERROR_ZERO_RETURN) SSL_shutdown(ssl_);
            break;
        }
        ERR_clear_error();
        if (control_ && SSL_is_init_finished(ssl_) && server_.delivered < server_.control.size()) {
            std::string_view rest = server_.control.substr(server_.delivered);
            std::size_t n = std::min(rest.size(), std::max<std::size_t>(1, server_.piece));
            if (SSL_write(ssl_, rest.data(), static_cast<int>(n)) > 0) server_.delivered += n;
            ERR_clear_error();
        }
    }

    void Reset() {
        if (ssl_) SSL_free(ssl_);
        ssl_ = nullptr;
        in_ = out_ = nullptr;
        connected_ = false;
        authSent_ = false;
    }

    bool authSent_ = false;
    SSL* ssl_ = nullptr;
    BIO* in_ = nullptr;
    BIO* out_ = nullptr;
};

inline TNetIOHandlerFactory MemoryTlsTransport(MemoryServer& server, bool control) {
    return [&server, control]() -> std::unique_ptr<TNetIOHandler> {
        return std::make_unique<MemoryTlsIOHandler>(server, control);
    };
}

}  // namespace qz::test
