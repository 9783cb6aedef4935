#pragma once
// One IPv4 stream socket: handle, local and peer address and port. Its logic
// is in NetSocketHandle.cpp; the system calls are behind NetSocketSystem.h
// (NetSocketHandlePosix.cpp, NetSocketHandleWindows.cpp).
#include <cstddef>
#include <cstdint>
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
    // A connect in two halves: BeginConnect sends the request and returns
    // 0 when connected, ConnectPending while the handshake is under way, or
    // the socket error number. AwaitConnect waits up to timeoutMs (-1: no
    // limit) for it to end, with the same results; the stop signal (a
    // TNetStopSignal's WaitHandle, -1 for none) abandons the wait (10004).
    // Safe from the connect thread.
    static constexpr int ConnectPending = -1;
    int BeginConnect(const std::string& ip, int port);
    int AwaitConnect(std::intptr_t stopHandle, int timeoutMs);
    // Shuts the sending side and closes; closing again does nothing.
    void Close();

    bool HandleAllocated() const { return fd_ >= 0; }
    std::intptr_t Handle() const { return fd_; }

    // Readiness for reading within timeoutMs (-1: no limit). Returns true on
    // data, end of stream or error; raises ENetSocketError on a failed wait.
    bool Readable(int timeoutMs);
    // The same for sending: true when bytes can go, or on error.
    bool Writable(int timeoutMs);
    // Number of bytes sent/received (>= 0) or minus the socket error number.
    // Send never blocks (-10035 when no byte can go now).
    long long Send(const char* data, std::size_t size);
    long long Recv(char* data, std::size_t size);

    void UpdateBindings();
    const std::string& IP() const { return ip_; }
    int Port() const { return port_; }
    const std::string& PeerIP() const { return peerIP_; }
    int PeerPort() const { return peerPort_; }

private:
    std::intptr_t fd_ = -1;   // a descriptor, or a Winsock SOCKET
    int blockingFlags_ = 0;   // what to restore once a connect has ended
    std::string ip_, peerIP_;
    int port_ = 0, peerPort_ = 0;
};
