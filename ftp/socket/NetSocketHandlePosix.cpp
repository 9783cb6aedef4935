#include "ftp/socket/NetSocketSystem.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ftp/socket/NetSockaddr.h"
#include "ftp/socket/NetStack.h"

// The socket calls on POSIX (NetSocketHandleWindows.cpp is the Winsock one).
namespace TNetSocketSystem {

namespace {

int Fd(std::intptr_t s) { return static_cast<int>(s); }

int LastError() { return TNetStack::TranslateErrno(errno); }

}  // namespace

std::intptr_t Open() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    return fd < 0 ? NoSocket : fd;
}

void Close(std::intptr_t s) {
    ::shutdown(Fd(s), SHUT_WR);
    ::close(Fd(s));
}

void SetNoDelay(std::intptr_t s) {
    int on = 1;
    setsockopt(Fd(s), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

int Bind(std::intptr_t s, const TAddress& at) {
    sockaddr_in addr = TNetSockaddr::Make(at.Ip, at.Port);
#ifdef IP_BIND_ADDRESS_NO_PORT
    // Let connect() pick the port so a busy machine can reuse local ports.
    if (at.Port == 0) {
        int on = 1;
        setsockopt(Fd(s), IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &on, sizeof on);
    }
#endif
    return ::bind(Fd(s), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 ? 0 : LastError();
}

int BeginNonBlocking(std::intptr_t s, int& saved) {
    saved = fcntl(Fd(s), F_GETFL);
    if (saved < 0 || fcntl(Fd(s), F_SETFL, saved | O_NONBLOCK) != 0) return LastError();
    return 0;
}

void RestoreBlocking(std::intptr_t s, int saved) { fcntl(Fd(s), F_SETFL, saved); }

int Connect(std::intptr_t s, const TAddress& to) {
    sockaddr_in addr = TNetSockaddr::Make(to.Ip, to.Port);
    if (::connect(Fd(s), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return 0;
    return errno == EINPROGRESS ? ConnectPending : LastError();
}

int AwaitConnect(std::intptr_t s, std::intptr_t stop, int timeoutMs) {
    const int stopFd = Fd(stop);
    pollfd fds[2] = {{Fd(s), POLLOUT, 0}, {stopFd, POLLIN, 0}};
    while (true) {
        const int n = ::poll(fds, stopFd >= 0 ? 2 : 1, timeoutMs);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) return ConnectPending;
        if (n < 0) return LastError();
        if (stopFd >= 0 && fds[1].revents != 0) return 10004;  // abandoned by the waiting thread
        int err = 0;
        socklen_t len = sizeof err;
        getsockopt(Fd(s), SOL_SOCKET, SO_ERROR, &err, &len);
        return err ? TNetStack::TranslateErrno(err) : 0;
    }
}

int Wait(std::intptr_t s, TWait what, int timeoutMs) {
    pollfd pfd{Fd(s), static_cast<short>(what == TWait::Read ? POLLIN : POLLOUT), 0};
    while (true) {
        const int n = ::poll(&pfd, 1, timeoutMs);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -LastError();
        return n > 0 ? 1 : 0;
    }
}

long long Send(std::intptr_t s, const char* data, std::size_t size) {
    while (true) {
        // MSG_NOSIGNAL: a peer that has gone gives an error, never a signal.
        const ssize_t n = ::send(Fd(s), data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) return n;
        if (errno != EINTR) return -LastError();
    }
}

long long Recv(std::intptr_t s, char* data, std::size_t size) {
    while (true) {
        const ssize_t n = ::recv(Fd(s), data, size, 0);
        if (n >= 0) return n;
        if (errno != EINTR) return -LastError();
    }
}

bool AddressOf(std::intptr_t s, TEnd end, TAddress& out) {
    return TNetSockaddr::Read<socklen_t>(Fd(s), end == TEnd::Peer, out.Ip, out.Port);
}

}  // namespace TNetSocketSystem
