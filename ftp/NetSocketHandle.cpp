#include "ftp/NetSocketHandle.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ftp/NetExceptions.h"
#include "ftp/NetStack.h"

namespace {

sockaddr_in MakeAddress(const std::string& ip, int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    // Port numbers wrap like the 16-bit field they go into.
    addr.sin_port = htons(static_cast<uint16_t>(port));
    unsigned char parts[4];
    if (ip.empty()) {
        addr.sin_addr.s_addr = htonl(INADDR_ANY);
    } else if (TNetStack::ParseDottedAddress(ip, parts)) {
        std::memcpy(&addr.sin_addr, parts, 4);
    } else {
        TNetStack::RaiseSocketError(10049);
    }
    return addr;
}

void ReadAddress(const sockaddr_in& addr, std::string& ip, int& port) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
    ip = text;
    port = ntohs(addr.sin_port);
}

}  // namespace

TNetSocketHandle::~TNetSocketHandle() { Close(); }

void TNetSocketHandle::Allocate() {
    Close();
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd_ < 0) throw ENetInvalidSocket();
}

void TNetSocketHandle::SetNoDelay() {
    int on = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void TNetSocketHandle::Bind(const std::string& ip, int port) {
    sockaddr_in addr = MakeAddress(ip, port);
#ifdef IP_BIND_ADDRESS_NO_PORT
    // Let connect() pick the port so a busy machine can reuse local ports.
    if (port == 0) {
        int on = 1;
        setsockopt(fd_, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &on, sizeof on);
    }
#endif
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        int n = TNetStack::TranslateErrno(errno);
        if (n == 10048) throw ENetCouldNotBindSocket();
        TNetStack::RaiseSocketError(n);
    }
}

int TNetSocketHandle::BeginConnect(const std::string& ip, int port) {
    sockaddr_in addr = MakeAddress(ip, port);
    blockingFlags_ = fcntl(fd_, F_GETFL);
    if (blockingFlags_ < 0 || fcntl(fd_, F_SETFL, blockingFlags_ | O_NONBLOCK) != 0)
        return TNetStack::TranslateErrno(errno);
    int result = 0;
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (errno == EINPROGRESS) return ConnectPending;
        result = TNetStack::TranslateErrno(errno);
    }
    fcntl(fd_, F_SETFL, blockingFlags_);
    return result;
}

int TNetSocketHandle::AwaitConnect(std::intptr_t stopHandle, int timeoutMs) {
    const int stopFd = static_cast<int>(stopHandle);
    pollfd fds[2] = {{static_cast<int>(fd_), POLLOUT, 0}, {stopFd, POLLIN, 0}};
    int result = 0;
    while (true) {
        int n = ::poll(fds, stopFd >= 0 ? 2 : 1, timeoutMs);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) return ConnectPending;
        if (n < 0) {
            result = TNetStack::TranslateErrno(errno);
        } else if (stopFd >= 0 && fds[1].revents != 0) {
            result = 10004;  // abandoned by the waiting thread
        } else {
            int err = 0;
            socklen_t len = sizeof err;
            getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len);
            result = err ? TNetStack::TranslateErrno(err) : 0;
        }
        break;
    }
    fcntl(fd_, F_SETFL, blockingFlags_);
    return result;
}

void TNetSocketHandle::Close() {
    if (fd_ < 0) return;
    ::shutdown(fd_, SHUT_WR);
    ::close(fd_);
    fd_ = -1;
}

namespace {
bool PollFor(int fd, short events, int timeoutMs) {
    pollfd pfd{fd, events, 0};
    while (true) {
        int n = ::poll(&pfd, 1, timeoutMs);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) TNetStack::RaiseSocketError(TNetStack::TranslateErrno(errno));
        return n > 0;
    }
}
}  // namespace

bool TNetSocketHandle::Readable(int timeoutMs) { return PollFor(fd_, POLLIN, timeoutMs); }

bool TNetSocketHandle::Writable(int timeoutMs) { return PollFor(fd_, POLLOUT, timeoutMs); }

long long TNetSocketHandle::Send(const char* data, std::size_t size) {
    if (fd_ < 0) throw ENetClosedSocket();
    while (true) {
        // Never blocks: the caller waits for room in slices of its own.
        ssize_t n = ::send(fd_, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) return n;
        if (errno != EINTR) return -TNetStack::TranslateErrno(errno);
    }
}

long long TNetSocketHandle::Recv(char* data, std::size_t size) {
    if (fd_ < 0) throw ENetClosedSocket();
    while (true) {
        ssize_t n = ::recv(fd_, data, size, 0);
        if (n >= 0) return n;
        if (errno != EINTR) return -TNetStack::TranslateErrno(errno);
    }
}

void TNetSocketHandle::UpdateBindings() {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) == 0) ReadAddress(addr, ip_, port_);
    len = sizeof addr;
    if (getpeername(fd_, reinterpret_cast<sockaddr*>(&addr), &len) == 0) ReadAddress(addr, peerIP_, peerPort_);
}
