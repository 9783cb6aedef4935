#include "ftp/iohandler/NetIOHandlerTls.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "ftp/socket/NetStack.h"

namespace {

constexpr std::size_t kChunk = 65536;
// How long a closing waits for the server's close_notify (which follows the
// last session tickets), at most.
constexpr int kCloseWaitMs = 2000;

long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Milliseconds left before `deadline` (0: none), -1 for no limit.
int LeftMs(long long deadline) {
    if (deadline == 0) return -1;
    return static_cast<int>(std::max(0LL, deadline - NowMs()));
}

int Smaller(int a, int b) {
    if (a < 0) return b;
    if (b < 0) return a;
    return std::min(a, b);
}

bool IsDottedAddress(const std::string& host) {
    return !host.empty() && host.find_first_not_of("0123456789.") == std::string::npos;
}

std::string Hex(const unsigned char* bytes, unsigned int n) {
    std::string text;
    char two[4];
    for (unsigned int i = 0; i < n; ++i) {
        std::snprintf(two, sizeof two, "%02X", bytes[i]);
        if (i) text += ':';
        text += two;
    }
    return text;
}

std::string NameText(const X509_NAME* name) {
    BIO* bio = BIO_new(BIO_s_mem());
    X509_NAME_print_ex(bio, name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    long n = BIO_get_mem_data(bio, &data);
    std::string text(data, static_cast<std::size_t>(std::max(0L, n)));
    BIO_free(bio);
    return text;
}

std::string TimeText(const ASN1_TIME* t) {
    std::tm tm{};
    if (!ASN1_TIME_to_tm(t, &tm)) return "?";
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm);
    return text;
}

std::vector<unsigned char> CertSha256(X509* cert) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    X509_digest(cert, EVP_sha256(), md, &n);
    return {md, md + n};
}

std::vector<unsigned char> KeySha256(X509* cert) {
    unsigned char* der = nullptr;
    int len = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(cert), &der);
    std::vector<unsigned char> digest(32);
    unsigned int n = 0;
    if (len > 0) EVP_Digest(der, static_cast<std::size_t>(len), digest.data(), &n, EVP_sha256(), nullptr);
    OPENSSL_free(der);
    return digest;
}

}  // namespace

TNetIOHandlerTls::TNetIOHandlerTls(std::unique_ptr<TNetIOHandler> below) : below_(std::move(below)) {}

TNetIOHandlerTls::~TNetIOHandlerTls() { Free(); }

void TNetIOHandlerTls::Free() {
    if (ssl_) SSL_free(ssl_);
    ssl_ = nullptr;
    in_ = out_ = nullptr;
    established_ = ended_ = broken_ = false;
    pendingError_ = 0;
    tlsError_.clear();
    plain_.clear();
    plainAt_ = 0;
}

void TNetIOHandlerTls::Open() {
    Free();
    below_->Open();
}

bool TNetIOHandlerTls::Connected() const { return below_->Connected(); }

void TNetIOHandlerTls::Close() {
    if (ssl_ && established_ && !broken_ && below_->Connected()) {
        try {
            SSL_shutdown(ssl_);
            const int wait = Smaller(timeoutMs_, kCloseWaitMs);
            if (FlushOutput(wait) == 0 && AwaitCloseNotify && !ended_) {
                // The server's close_notify says it read everything; the
                // tickets it sent after the handshake come before it.
                const long long deadline = wait < 0 ? 0 : NowMs() + wait;
                char sink[4096];
                while (true) {
                    int r = SSL_read(ssl_, sink, sizeof sink);
                    if (r > 0) continue;
                    if (SSL_get_error(ssl_, r) != SSL_ERROR_WANT_READ) break;
                    int left = LeftMs(deadline);
                    if (left == 0 || !Pull(left) || ended_ || pendingError_) break;
                }
            }
        } catch (...) {
        }
    }
    below_->Close();
    ERR_clear_error();
    Free();
}

void TNetIOHandlerTls::ConnectClient(const std::string& host, int port, const std::string& boundIP, int boundPort,
                                     int timeoutMs) {
    below_->ConnectClient(host, port, boundIP, boundPort, timeoutMs);
}

std::string TNetIOHandlerTls::PeerIP() const { return below_->PeerIP(); }

bool TNetIOHandlerTls::Writable(int timeoutMs) { return below_->Writable(timeoutMs); }

int TNetIOHandlerTls::FlushOutput(int timeoutMs) {
    const long long deadline = timeoutMs < 0 ? 0 : NowMs() + timeoutMs;
    char chunk[kChunk];
    while (BIO_ctrl_pending(out_) > 0) {
        int n = BIO_read(out_, chunk, sizeof chunk);
        if (n <= 0) break;
        const char* p = chunk;
        std::size_t left = static_cast<std::size_t>(n);
        while (left > 0) {
            long long sent = below_->Send(p, left);
            if (sent == -WouldBlock) {
                int wait = LeftMs(deadline);
                if (wait == 0 || !below_->Writable(wait)) return 10060;
                continue;
            }
            if (sent < 0) return static_cast<int>(-sent);
            if (sent == 0) return 10058;
            p += sent;
            left -= static_cast<std::size_t>(sent);
        }
    }
    return 0;
}

bool TNetIOHandlerTls::Pull(int timeoutMs) {
    if (!below_->Readable(timeoutMs)) return false;
    char chunk[kChunk];
    long long n = below_->Recv(chunk, sizeof chunk);
    if (n > 0) {
        BIO_write(in_, chunk, static_cast<int>(n));
    } else if (n == 0) {
        ended_ = true;
        BIO_set_mem_eof_return(in_, 0);
    } else {
        pendingError_ = static_cast<int>(-n);
    }
    return true;
}

void TNetIOHandlerTls::Fail(const std::string& what, int sslError) {
    broken_ = true;
    std::string reason;
    long verify = ssl_ ? SSL_get_verify_result(ssl_) : X509_V_OK;
    if (verify != X509_V_OK && context_ && context_->Pins().empty()) {
        reason = std::string("the server's certificate was refused: ") + X509_verify_cert_error_string(verify);
    } else if (unsigned long e = ERR_peek_last_error()) {
        const char* r = ERR_reason_error_string(e);
        reason = r ? r : "error " + std::to_string(e);
    } else if (sslError == SSL_ERROR_SYSCALL || sslError == SSL_ERROR_ZERO_RETURN) {
        reason = "the server closed the connection";
    } else {
        reason = "error " + std::to_string(sslError);
    }
    ERR_clear_error();
    throw ENetTlsError(what + ": " + reason + ".");
}

void TNetIOHandlerTls::BeginHandshake(std::shared_ptr<TNetTlsContext> context, const std::string& host,
                                      int timeoutMs, SSL_SESSION* resume) {
    Free();
    context_ = std::move(context);
    host_ = host;
    timeoutMs_ = timeoutMs;
    deadline_ = timeoutMs < 0 ? 0 : NowMs() + timeoutMs;
    ssl_ = SSL_new(context_->Native());
    in_ = BIO_new(BIO_s_mem());
    out_ = BIO_new(BIO_s_mem());
    if (!ssl_ || !in_ || !out_) {
        if (in_ && !ssl_) BIO_free(in_);
        if (out_ && !ssl_) BIO_free(out_);
        in_ = out_ = nullptr;
        throw ENetTlsError("TLS cannot be set up (out of memory).");
    }
    BIO_set_mem_eof_return(in_, -1);  // empty means "wait for more", not the end
    SSL_set_bio(ssl_, in_, out_);
    SSL_set_connect_state(ssl_);
    const bool address = IsDottedAddress(host);
    if (!address) SSL_set_tlsext_host_name(ssl_, host.c_str());
    if (context_->Pins().empty()) {
        if (address)
            X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), host.c_str());
        else
            SSL_set1_host(ssl_, host.c_str());
    }
    if (resume) SSL_set_session(ssl_, resume);
    HandshakeStep(0);
}

bool TNetIOHandlerTls::HandshakeStep(int waitMs) {
    if (established_) return true;
    while (true) {
        int r = SSL_do_handshake(ssl_);
        int e = r == 1 ? SSL_ERROR_NONE : SSL_get_error(ssl_, r);
        if (int err = FlushOutput(LeftMs(deadline_))) {
            broken_ = true;
            if (err == 10060) throw ENetTlsError("The TLS handshake with the server timed out.");
            TNetStack::RaiseSocketError(err);
        }
        if (r == 1) {
            established_ = true;
            CheckPeer();
            return true;
        }
        if (e != SSL_ERROR_WANT_READ) Fail("The TLS handshake with the server failed", e);
        if (ended_) {
            broken_ = true;
            throw ENetTlsError("The TLS handshake with the server failed: the server closed the connection.");
        }
        if (pendingError_) {
            broken_ = true;
            TNetStack::RaiseSocketError(pendingError_);
        }
        int left = LeftMs(deadline_);
        if (left == 0) {
            broken_ = true;
            throw ENetTlsError("The TLS handshake with the server timed out.");
        }
        if (!Pull(Smaller(waitMs, left))) return false;
    }
}

void TNetIOHandlerTls::StartTls(std::shared_ptr<TNetTlsContext> context, const std::string& host, int timeoutMs,
                                SSL_SESSION* resume) {
    BeginHandshake(std::move(context), host, timeoutMs, resume);
    while (!HandshakeStep(-1)) {
    }
}

void TNetIOHandlerTls::CheckPeer() {
    X509* cert = SSL_get0_peer_certificate(ssl_);
    if (!cert) {
        broken_ = true;
        throw ENetTlsError("The server sent no certificate.");
    }
    if (!context_->Pins().empty()) {
        const std::vector<unsigned char> certSha = CertSha256(cert), keySha = KeySha256(cert);
        bool matched = false;
        for (const TNetTlsPin& pin : context_->Pins())
            matched = matched || pin.Sha256 == (pin.What == TNetTlsPin::Kind::Certificate ? certSha : keySha);
        if (!matched) {
            broken_ = true;
            throw ENetTlsError("The server's certificate does not match the TLS pin (it has cert:" +
                               Hex(certSha.data(), 32) + ", key:" + Hex(keySha.data(), 32) + ").");
        }
        if (X509_cmp_current_time(X509_get0_notAfter(cert)) < 0 ||
            X509_cmp_current_time(X509_get0_notBefore(cert)) > 0) {
            broken_ = true;
            throw ENetTlsError("The server's certificate was refused: it is pinned but outside its dates (" +
                               TimeText(X509_get0_notBefore(cert)) + " to " + TimeText(X509_get0_notAfter(cert)) +
                               ").");
        }
    }
    if (X509* known = context_->ServerCertificate()) {
        if (X509_cmp(known, cert) != 0) {
            broken_ = true;
            throw ENetTlsError("The data connection's certificate differs from the control connection's.");
        }
    } else {
        context_->SetServerCertificate(cert);
    }
}

bool TNetIOHandlerTls::Readable(int timeoutMs) {
    if (!ssl_) return below_->Readable(timeoutMs);
    const long long deadline = timeoutMs < 0 ? 0 : NowMs() + timeoutMs;
    while (true) {
        if (plainAt_ < plain_.size() || ended_ || pendingError_ || !tlsError_.empty()) return true;
        char chunk[16384];
        int r = SSL_read(ssl_, chunk, sizeof chunk);
        int e = r > 0 ? SSL_ERROR_NONE : SSL_get_error(ssl_, r);
        // A read may answer the server (a key update).
        if (int err = FlushOutput(timeoutMs_)) pendingError_ = err;
        if (r > 0) {
            plain_.assign(chunk, static_cast<std::size_t>(r));
            plainAt_ = 0;
            return true;
        }
        if (e == SSL_ERROR_ZERO_RETURN) {
            ended_ = true;
            return true;
        }
        if (e != SSL_ERROR_WANT_READ) {
            broken_ = true;
            unsigned long err = ERR_peek_last_error();
            const char* reason = err ? ERR_reason_error_string(err) : nullptr;
            tlsError_ = std::string("The TLS connection failed: ") +
                        (reason ? reason : "the server closed it without close_notify") + ".";
            ERR_clear_error();
            return true;
        }
        int left = LeftMs(deadline);
        if (timeoutMs >= 0 && left == 0) return false;
        if (!Pull(timeoutMs < 0 ? -1 : left)) return false;
    }
}

long long TNetIOHandlerTls::Recv(char* data, std::size_t size) {
    if (!ssl_) return below_->Recv(data, size);
    if (plainAt_ >= plain_.size() && !ended_ && !pendingError_ && tlsError_.empty() && !Readable(0))
        return -WouldBlock;
    if (plainAt_ < plain_.size()) {
        std::size_t n = std::min(size, plain_.size() - plainAt_);
        std::copy_n(plain_.data() + plainAt_, n, data);
        plainAt_ += n;
        return static_cast<long long>(n);
    }
    if (!tlsError_.empty()) throw ENetTlsError(tlsError_);
    if (pendingError_) return -pendingError_;
    return 0;
}

long long TNetIOHandlerTls::Send(const char* data, std::size_t size) {
    if (!ssl_) return below_->Send(data, size);
    if (broken_) return -10053;
    const int n = static_cast<int>(std::min(size, kChunk));
    int r = SSL_write(ssl_, data, n);
    if (r <= 0) {
        broken_ = true;
        ERR_clear_error();
        return -10053;
    }
    if (int err = FlushOutput(timeoutMs_)) {
        broken_ = true;
        return -err;
    }
    return r;
}

TNetTlsInfo TNetIOHandlerTls::Info() const {
    TNetTlsInfo info;
    if (!ssl_) return info;
    info.Version = SSL_get_version(ssl_);
    if (const SSL_CIPHER* c = SSL_get_current_cipher(ssl_)) info.Cipher = SSL_CIPHER_get_name(c);
    info.Resumed = SSL_session_reused(ssl_) == 1;
    if (X509* cert = SSL_get0_peer_certificate(ssl_)) {
        info.Subject = NameText(X509_get_subject_name(cert));
        info.Issuer = NameText(X509_get_issuer_name(cert));
        info.NotBefore = TimeText(X509_get0_notBefore(cert));
        info.NotAfter = TimeText(X509_get0_notAfter(cert));
        std::vector<unsigned char> sha = CertSha256(cert);
        info.CertSha256 = Hex(sha.data(), static_cast<unsigned int>(sha.size()));
    }
    if (context_) {
        if (!context_->Pins().empty())
            info.VerifiedBy = "the TLS pin";
        else if (context_->Settings().CaFile.empty())
            info.VerifiedBy = "the system's trusted roots and the host name " + host_;
        else
            info.VerifiedBy = "the CA file " + context_->Settings().CaFile + " and the host name " + host_;
    }
    return info;
}
