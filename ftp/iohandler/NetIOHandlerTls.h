#pragma once
// TLS as one more layer of a connection's transport: it passes bytes through
// to the layer below (the socket, or an in-memory transport in tests) until
// StartTls, and encrypts them from then on. The control connection and each
// data connection have one; a data connection is given a session of the
// control connection's to resume.
#include <memory>
#include <string>

#include "ftp/iohandler/NetIOHandler.h"
#include "ftp/iohandler/NetTlsContext.h"

typedef struct ssl_st SSL;
typedef struct bio_st BIO;

class TNetIOHandlerTls : public TNetIOHandler {
public:
    explicit TNetIOHandlerTls(std::unique_ptr<TNetIOHandler> below);
    ~TNetIOHandlerTls() override;

    void Open() override;
    bool Connected() const override;
    // After a completed handshake: close_notify, then the server's own is
    // awaited briefly (it carries the last session tickets); never raises.
    void Close() override;
    void ConnectClient(const std::string& host, int port, const std::string& boundIP, int boundPort,
                       int timeoutMs) override;
    bool Readable(int timeoutMs) override;
    bool Writable(int timeoutMs) override;
    // With TLS on, Send encrypts and hands every encrypted byte to the layer
    // below before it returns, waiting (in the layer's slices) at most the
    // time-out given to StartTls.
    long long Send(const char* data, std::size_t size) override;
    long long Recv(char* data, std::size_t size) override;
    std::string PeerIP() const override;

    // Sends the ClientHello for `host` (checked against the certificate
    // unless the context pins it), offering `resume` when given.
    void BeginHandshake(std::shared_ptr<TNetTlsContext> context, const std::string& host, int timeoutMs,
                        SSL_SESSION* resume = nullptr);
    // Moves the handshake on, waiting at most `waitMs` for the server; true
    // once it is complete. Raises ENetTlsError when it fails or the time-out
    // given to BeginHandshake has passed.
    bool HandshakeStep(int waitMs);
    // BeginHandshake and HandshakeStep until complete.
    void StartTls(std::shared_ptr<TNetTlsContext> context, const std::string& host, int timeoutMs,
                  SSL_SESSION* resume = nullptr);
    bool Active() const { return ssl_ != nullptr; }
    TNetTlsInfo Info() const;
    // A certificate equal to the control connection's (a data connection).
    // Set on a data connection: its closing waits for the server's
    // close_notify, which says the server read it all.
    bool AwaitCloseNotify = false;

private:
    void CheckPeer();
    // 0, or the socket error that stopped the flush (10060: the time-out).
    int FlushOutput(int timeoutMs);
    bool Pull(int timeoutMs);
    [[noreturn]] void Fail(const std::string& what, int sslError);
    void Free();

    std::unique_ptr<TNetIOHandler> below_;
    std::shared_ptr<TNetTlsContext> context_;
    std::string host_;
    SSL* ssl_ = nullptr;
    BIO* in_ = nullptr;   // ciphertext from the server, owned by ssl_
    BIO* out_ = nullptr;  // ciphertext to the server, owned by ssl_
    int timeoutMs_ = -1;
    long long deadline_ = 0;
    bool established_ = false;
    bool ended_ = false;      // close_notify or the end of the stream seen
    bool broken_ = false;     // a fatal error: no close_notify may follow
    int pendingError_ = 0;    // a socket error of the layer below, for Recv
    std::string tlsError_;    // a TLS failure met while reading, for Recv
    std::string plain_;       // decrypted and not yet taken by Recv
    std::size_t plainAt_ = 0;
};
