#pragma once
// An in-memory transport that plays an FTP server from a script of bytes, for
// tests and fuzzers that drive the whole client without sockets. It never
// blocks: an exhausted script is the end of the stream, and a transport that
// takes no bytes says so at once. Header-only, on the connection's own
// interface, so it needs no library of its own.
#include <algorithm>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "ftp/NetExceptions.h"
#include "ftp/iohandler/NetIOHandler.h"

namespace qz::test {

// What the server does; shared by the control connection (the first one
// opened) and the data connections after it.
struct MemoryServer {
    std::string_view control;        // bytes the server sends on the control connection
    std::size_t piece = 32768;       // at most this many bytes per receive
    bool refuseControl = false;      // the control connect fails
    bool refuseData = false;         // data connects fail
    bool dataStalls = false;         // data connections take no byte
    std::size_t sendLimit = 0;       // at most this many bytes per send (0: all)

    // What the client did. Sent bytes are counted, not kept.
    std::size_t delivered = 0;
    std::string commands;            // control bytes sent, kept up to keepCommands
    std::size_t keepCommands = 4096;
    std::size_t dataBytes = 0;
    int connections = 0;
};

class MemoryIOHandler : public TNetIOHandler {
public:
    MemoryIOHandler(MemoryServer& server, bool control) : server_(server), control_(control) {}

    void Open() override { connected_ = false; }
    bool Connected() const override { return connected_; }
    void Close() override { connected_ = false; }
    void ConnectClient(const std::string&, int, const std::string&, int, int) override {
        ++server_.connections;
        if (control_ ? server_.refuseControl : server_.refuseData)
            throw ENetConnectException(SocketErrorText(10061));
        connected_ = true;
    }
    bool Readable(int) override {
        if (!connected_) throw ENetConnClosedGracefully();
        return true;  // data, or the end of the stream
    }
    bool Writable(int) override {
        if (!connected_) throw ENetConnClosedGracefully();
        return !Stalled();
    }
    long long Send(const char* data, std::size_t size) override {
        const long long taken = Taken(size);
        if (taken > 0) Keep(data, static_cast<std::size_t>(taken));
        return taken;
    }
    long long Recv(char* data, std::size_t size) override {
        if (!connected_) throw ENetClosedSocket();
        return RecvScript(data, size, server_.control.size());
    }
    std::string PeerIP() const override { return "127.0.0.1"; }

protected:
    bool Stalled() const { return !control_ && server_.dataStalls; }

    // How many of the client's bytes the server takes now (-WouldBlock: none).
    long long Taken(std::size_t size) const {
        if (!connected_) throw ENetClosedSocket();
        if (Stalled()) return -WouldBlock;
        return static_cast<long long>(server_.sendLimit > 0 ? std::min(size, server_.sendLimit) : size);
    }

    // The client's bytes as the server keeps them: control bytes up to
    // keepCommands, data bytes counted.
    void Keep(const char* data, std::size_t n) {
        if (!control_) {
            server_.dataBytes += n;
            return;
        }
        std::size_t room = server_.keepCommands - std::min(server_.keepCommands, server_.commands.size());
        server_.commands.append(data, std::min(n, room));
    }

    // The control script sent as it stands, up to end; data connections send nothing.
    long long RecvScript(char* data, std::size_t size, std::size_t end) {
        if (!control_) return 0;
        std::size_t at = std::min(server_.delivered, end);
        std::size_t n = std::min({size, std::max<std::size_t>(1, server_.piece), end - at});
        std::copy_n(server_.control.data() + at, n, data);
        server_.delivered += n;
        return static_cast<long long>(n);
    }

    MemoryServer& server_;
    bool control_;
    bool connected_ = false;
};

// Transports for a client's control connection (control true) or for its
// data connections; both play the same server.
inline TNetIOHandlerFactory MemoryTransport(MemoryServer& server, bool control) {
    return [&server, control]() -> std::unique_ptr<TNetIOHandler> {
        return std::make_unique<MemoryIOHandler>(server, control);
    };
}

}  // namespace qz::test
