#include "ftp/iohandler/NetTlsContext.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cctype>

namespace {

int OnNewSession(SSL* ssl, SSL_SESSION* session) {
    auto* owner = static_cast<TNetTlsContext*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
    if (!owner) return 0;
    owner->AddSession(session);
    return 1;  // the reference is ours now
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool FromHex(const std::string& text, std::vector<unsigned char>& out) {
    std::string digits;
    for (char c : text)
        if (c != ':') digits += c;
    if (digits.size() != 64) return false;
    out.clear();
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        int hi = HexValue(digits[i]), lo = HexValue(digits[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out.push_back(static_cast<unsigned char>(hi * 16 + lo));
    }
    return true;
}

bool FromBase64(const std::string& text, std::vector<unsigned char>& out) {
    if (text.size() != 44) return false;  // 32 bytes with one "=" of padding
    unsigned char decoded[48];
    int n = EVP_DecodeBlock(decoded, reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    if (n != 33 || text.back() != '=' || text[42] == '=') return false;
    out.assign(decoded, decoded + 32);
    return true;
}

std::string BadPin(const std::string& word) {
    return "The TLS pin \"" + word +
           "\" is not understood: write cert:<SHA-256 of the certificate in hex>, key:<SHA-256 of the public key "
           "in hex> or sha256//<SHA-256 of the public key in base64>.";
}

}  // namespace

std::vector<TNetTlsPin> ParseTlsPins(const std::string& text) {
    std::vector<TNetTlsPin> pins;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t comma = text.find(',', start);
        std::string word = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        TNetTlsPin pin{TNetTlsPin::Kind::PublicKey, {}};
        bool ok = false;
        if (word.rfind("cert:", 0) == 0) {
            pin.What = TNetTlsPin::Kind::Certificate;
            ok = FromHex(word.substr(5), pin.Sha256);
        } else if (word.rfind("key:", 0) == 0) {
            ok = FromHex(word.substr(4), pin.Sha256);
        } else if (word.rfind("sha256//", 0) == 0) {
            ok = FromBase64(word.substr(8), pin.Sha256);
        }
        if (!ok) throw ENetTlsError(BadPin(word));
        pins.push_back(pin);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return pins;
}

TNetTlsContext::TNetTlsContext(const TNetTlsSettings& settings) : settings_(settings) {
    if (!settings_.Pin.empty()) pins_ = ParseTlsPins(settings_.Pin);
    ctx_ = SSL_CTX_new(TLS_client_method());
    if (!ctx_) throw ENetTlsError("TLS cannot be set up (OpenSSL could not make a context).");
    SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
    SSL_CTX_set_app_data(ctx_, this);
    // Sessions are kept here, not in OpenSSL's cache, to be handed to the
    // data connections one by one.
    SSL_CTX_set_session_cache_mode(ctx_, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(ctx_, OnNewSession);
    SSL_CTX_set_mode(ctx_, SSL_MODE_AUTO_RETRY);
    if (pins_.empty()) {
        // A chain to a trusted root; the host name is set per connection.
        SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, nullptr);
        bool loaded = settings_.CaFile.empty() ? LoadSystemRoots(ctx_)
                                               : SSL_CTX_load_verify_locations(ctx_, settings_.CaFile.c_str(), nullptr) == 1;
        if (!loaded) {
            ERR_clear_error();
            SSL_CTX_free(ctx_);
            ctx_ = nullptr;
            throw ENetTlsError(settings_.CaFile.empty()
                                   ? std::string("The system's trusted certificates cannot be read.")
                                   : "The TLS CA file " + settings_.CaFile + " cannot be read or holds no certificate.");
        }
    } else {
        // The pin is the check, made after the handshake.
        SSL_CTX_set_verify(ctx_, SSL_VERIFY_NONE, nullptr);
    }
}

TNetTlsContext::~TNetTlsContext() {
    ClearSessions();
    if (serverCert_) X509_free(serverCert_);
    if (ctx_) SSL_CTX_free(ctx_);
}

void TNetTlsContext::SetServerCertificate(X509* cert) {
    if (cert) X509_up_ref(cert);
    if (serverCert_) X509_free(serverCert_);
    serverCert_ = cert;
}

void TNetTlsContext::AddSession(SSL_SESSION* session) {
    ++received_;
    if (!SSL_SESSION_is_resumable(session)) {
        SSL_SESSION_free(session);
        return;
    }
    sessions_.push_back(session);
    // Bounded: a server could hand out tickets without end.
    while (sessions_.size() > 16) {
        SSL_SESSION_free(sessions_.front());
        sessions_.pop_front();
    }
}

SSL_SESSION* TNetTlsContext::TakeSession() {
    if (!sessions_.empty()) {
        SSL_SESSION* session = sessions_.front();
        if (SSL_SESSION_get_protocol_version(session) >= TLS1_3_VERSION) {
            sessions_.pop_front();
            if (lastTaken_) SSL_SESSION_free(lastTaken_);
            lastTaken_ = session;
        } else {
            // A TLS 1.2 session resumes any number of times: the newest.
            session = sessions_.back();
        }
        SSL_SESSION_up_ref(session);
        return session;
    }
    if (lastTaken_) SSL_SESSION_up_ref(lastTaken_);
    return lastTaken_;
}

bool TNetTlsContext::TicketsUsedUp() const {
    return sessions_.empty() && lastTaken_ && SSL_SESSION_get_protocol_version(lastTaken_) >= TLS1_3_VERSION;
}

void TNetTlsContext::ClearSessions() {
    for (SSL_SESSION* s : sessions_) SSL_SESSION_free(s);
    sessions_.clear();
    if (lastTaken_) SSL_SESSION_free(lastTaken_);
    lastTaken_ = nullptr;
}

void FreeTlsSession(SSL_SESSION* session) {
    if (session) SSL_SESSION_free(session);
}
