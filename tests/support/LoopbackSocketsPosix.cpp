#include "tests/support/LoopbackSockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "ftp/socket/NetSockaddr.h"

// The loopback sockets on POSIX (LoopbackSocketsWindows.cpp is the Winsock one).
namespace qz::test::loopback {

namespace {

int Fd(THandle s) { return static_cast<int>(s); }

// poll() again when a signal cut it short.
int PollOn(pollfd* fds, int count, int timeoutMs) {
    while (true) {
        const int n = ::poll(fds, nfds_t(count), timeoutMs);
        if (n >= 0 || errno != EINTR) return n;
    }
}

}  // namespace

THandle Accept(THandle listener) {
    const int fd = ::accept4(Fd(listener), nullptr, nullptr, SOCK_CLOEXEC);
    return fd < 0 ? None : fd;
}

void Close(THandle s) { ::close(Fd(s)); }

void ShutdownSend(THandle s) { ::shutdown(Fd(s), SHUT_WR); }

long long Recv(THandle s, char* data, std::size_t size) { return ::recv(Fd(s), data, size, 0); }

long long Send(THandle s, const char* data, std::size_t size) { return ::send(Fd(s), data, size, MSG_NOSIGNAL); }

long long SendNow(THandle s, const char* data, std::size_t size) {
    const ssize_t sent = ::send(Fd(s), data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent >= 0) return sent;
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
}

bool Raised(THandle stop, int timeoutMs) {
    pollfd fd{Fd(stop), POLLIN, 0};
    return PollOn(&fd, 1, timeoutMs) != 0;
}

void MakeSignal(THandle ends[2]) {
    int fds[2] = {-1, -1};
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    ends[0] = fds[0];
    ends[1] = fds[1];
}

void Raise(THandle raiseEnd) {
    char c = 1;
    [[maybe_unused]] ssize_t n = ::write(Fd(raiseEnd), &c, 1);
}

bool Take(THandle waitEnd) {
    char c;
    return ::read(Fd(waitEnd), &c, 1) == 1;
}

void CloseSignal(THandle ends[2]) {
    for (int i = 0; i < 2; ++i)
        if (ends[i] != None) ::close(Fd(ends[i]));
}

void PauseMs(int ms) { ::usleep(useconds_t(ms) * 1000); }

namespace sys {

THandle NewSocket() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return None;
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    return fd;
}

bool BindLoopback(THandle s, bool listen) {
    sockaddr_in addr = TNetSockaddr::Loopback(0);
    return ::bind(Fd(s), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && (!listen || ::listen(Fd(s), 8) == 0);
}

bool ConnectLoopback(THandle s, int port) {
    sockaddr_in addr = TNetSockaddr::Loopback(std::uint16_t(port));
    return ::connect(Fd(s), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
}

bool Name(THandle s, unsigned char ip[4], std::uint16_t& port) { return TNetSockaddr::Read<socklen_t>(Fd(s), false, ip, port); }

TPolled Poll(THandle s, bool forWrite, THandle stop, int timeoutMs) {
    pollfd fds[2] = {{Fd(s), short(forWrite ? POLLOUT : POLLIN), 0}, {Fd(stop), POLLIN, 0}};
    const int n = PollOn(fds, stop == None ? 1 : 2, timeoutMs);
    return {n, n > 0 && stop != None && fds[1].revents != 0, (fds[0].revents & (POLLERR | POLLHUP)) != 0};
}

}  // namespace sys

}  // namespace qz::test::loopback
