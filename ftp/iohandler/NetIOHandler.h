#pragma once
// What a connection needs of its transport: the socket handler in the
// program, an in-memory one where a test or fuzzer plays the server.
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

class TNetIOHandler {
public:
    virtual ~TNetIOHandler() = default;

    // A fresh transport, not yet connected.
    virtual void Open() = 0;
    virtual bool Connected() const = 0;
    // Closes; closing again does nothing.
    virtual void Close() = 0;
    // Raises the connect errors (ENetConnectException, ENetConnectTimeout,
    // ENetSocketError for a failed name lookup).
    virtual void ConnectClient(const std::string& host, int port, const std::string& boundIP, int boundPort,
                               int timeoutMs) = 0;
    // Waits up to timeoutMs (-1: no limit) until data (or the end of the
    // stream) can be received / bytes can be sent, in anti-freeze slices when
    // the calling thread is the window's. Both raise ENetConnClosedGracefully when
    // closed.
    virtual bool Readable(int timeoutMs) = 0;
    virtual bool Writable(int timeoutMs) = 0;
    // Bytes moved (>= 0; 0 from Recv is the end of the stream), or minus the
    // socket error number. Send never blocks: -WouldBlock when no byte can go
    // now. Recv is called once Readable said yes.
    static constexpr int WouldBlock = 10035;
    virtual long long Send(const char* data, std::size_t size) = 0;
    virtual long long Recv(char* data, std::size_t size) = 0;
    // Address of the connected peer.
    virtual std::string PeerIP() const = 0;
};

// Makes the transport of a new connection; empty means a socket.
using TNetIOHandlerFactory = std::function<std::unique_ptr<TNetIOHandler>()>;
