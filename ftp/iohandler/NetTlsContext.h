#pragma once
// What the TLS layer shares between a control connection and its data
// connections: the settings, the verified server certificate, and the
// sessions the server handed out for resuming. No Qt.
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "ftp/NetExceptions.h"

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_session_st SSL_SESSION;
typedef struct x509_st X509;

// TLS was asked for and cannot be had as asked: a refused AUTH TLS or PROT P,
// a failed handshake, a certificate that does not verify or match its pin.
// Nothing falls back to plain FTP.
class ENetTlsError : public ENetException {
public:
    using ENetException::ENetException;
};

struct TNetTlsSettings {
    bool Enabled = false;   // explicit FTPS (AUTH TLS)
    std::string CaFile;     // verify with this CA file instead of the system's roots
    // The server's certificate or key by SHA-256, instead of a chain to a
    // trusted root (forms in ParseTlsPins).
    std::string Pin;
};

// One accepted pin: the SHA-256 of the certificate (DER) or of its public
// key (DER SubjectPublicKeyInfo).
struct TNetTlsPin {
    enum class Kind { Certificate, PublicKey } What;
    std::vector<unsigned char> Sha256;  // 32 bytes
    bool operator==(const TNetTlsPin&) const = default;
};

// Forms, several joined by ",": "cert:HEX" (the certificate's SHA-256
// fingerprint as `openssl x509 -fingerprint -sha256` prints it, colons
// allowed), "key:HEX" and "sha256//BASE64" (the public key's SHA-256).
// Throws ENetTlsError naming the bad word.
std::vector<TNetTlsPin> ParseTlsPins(const std::string& text);

// What a handshake found, for `qeladmin check` and the client's record.
struct TNetTlsInfo {
    std::string Version;      // "TLSv1.3"
    std::string Cipher;       // "TLS_AES_256_GCM_SHA384"
    std::string Subject, Issuer;
    std::string NotBefore, NotAfter;  // "2026-12-10 17:00:00 UTC"
    std::string CertSha256;   // hex with colons
    std::string VerifiedBy;   // "the system's roots and the host name", "the CA file ... and ...", "pin"
    bool Resumed = false;
};

class TNetTlsContext {
public:
    // Throws ENetTlsError when the CA file cannot be read or the pin is malformed.
    explicit TNetTlsContext(const TNetTlsSettings& settings);
    ~TNetTlsContext();
    TNetTlsContext(const TNetTlsContext&) = delete;
    TNetTlsContext& operator=(const TNetTlsContext&) = delete;

    SSL_CTX* Native() const { return ctx_; }
    const TNetTlsSettings& Settings() const { return settings_; }
    const std::vector<TNetTlsPin>& Pins() const { return pins_; }

    // The control connection's certificate, once its handshake verified it;
    // every data connection must present the same one.
    void SetServerCertificate(X509* cert);
    X509* ServerCertificate() const { return serverCert_; }

    // A session for the next data connection to resume (owned by the caller,
    // SSL_SESSION_free), or null when the server gave none. A TLS 1.3 ticket
    // is handed out once (servers take each once); a TLS 1.2 session again
    // and again.
    SSL_SESSION* TakeSession();
    // Called by OpenSSL for every session the server hands out.
    void AddSession(SSL_SESSION* session);
    int SessionsReceived() const { return received_; }
    // True when the server's TLS 1.3 tickets were all handed out and no new
    // one came: the next data connection could not resume.
    bool TicketsUsedUp() const;
    // Drops the sessions (a control connection's new handshake starts afresh).
    void ClearSessions();

private:
    TNetTlsSettings settings_;
    std::vector<TNetTlsPin> pins_;
    SSL_CTX* ctx_ = nullptr;
    X509* serverCert_ = nullptr;
    std::deque<SSL_SESSION*> sessions_;
    SSL_SESSION* lastTaken_ = nullptr;
    int received_ = 0;  // kept for when the server sends no more tickets
};

// SSL_SESSION_free, for callers that see no OpenSSL header; null does nothing.
void FreeTlsSession(SSL_SESSION* session);

// Loads the system's trusted roots into the context (one file per system).
// Returns false when none could be loaded.
bool LoadSystemRoots(SSL_CTX* ctx);
