#pragma once
// One IPv4 stream socket: handle, local and peer address and port.
#include <cstddef>
#include <string>

class TNetSocketHandle {
public:
    TNetSocketHandle() = default;
    ~TNetSocketHandle();
    TNetSocketHandle(const TNetSocketHandle&) = delete;
    TNetSocketHandle& operator=(const TNetSocketHandle&) = delete;

    // Raises ENetInvalidSocket.
    void Allocate();
    // Turns Nagle's algorithm off.
    void SetNoDelay();
    // Empty ip and port 0 mean any. Raises ENetCouldNotBindSocket or ENetSocketError.
    void Bind(const std::string& ip, int port);
    // Blocking connect; returns 0 or the socket error number. Safe to call
    // from the connect thread: `stopFd` becoming readable abandons it.
    int Connect(const std::string& ip, int port, int stopFd);
    // Shuts the sending side and closes; closing again does nothing.
    void Close();

    bool HandleAllocated() const { return fd_ >= 0; }
    int Handle() const { return fd_; }

    // Readiness for reading within timeoutMs (-1: no limit). Returns true on
    // data, end of stream or error; raises ENetSocketError on a failed wait.
    bool Readable(int timeoutMs);
    // Number of bytes sent/received (>= 0) or minus the socket error number.
    long long Send(const char* data, std::size_t size);
    long long Recv(char* data, std::size_t size);

    void UpdateBindings();
    const std::string& IP() const { return ip_; }
    int Port() const { return port_; }
    const std::string& PeerIP() const { return peerIP_; }
    int PeerPort() const { return peerPort_; }

private:
    int fd_ = -1;
    std::string ip_, peerIP_;
    int port_ = 0, peerPort_ = 0;
};
