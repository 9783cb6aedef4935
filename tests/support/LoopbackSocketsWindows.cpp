#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <stdexcept>

#include "ftp/socket/NetSockaddr.h"
#include "tests/support/LoopbackSockets.h"

// The loopback sockets on Windows (LoopbackSocketsPosix.cpp is the POSIX
// one): Winsock 2, with a loopback socket pair where POSIX has a pipe, since
// WSAPoll waits on sockets only.
namespace qz::test::loopback {

namespace {

void StartSockets() {
    static const bool started = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started) throw std::runtime_error("WSAStartup failed");
}

SOCKET S(THandle s) { return static_cast<SOCKET>(s); }
THandle H(SOCKET s) { return s == INVALID_SOCKET ? None : static_cast<THandle>(s); }
int Capped(std::size_t size) { return int(std::min<std::size_t>(size, 1 << 30)); }

void SetNonBlocking(SOCKET s, bool on) {
    u_long mode = on ? 1 : 0;
    ::ioctlsocket(s, FIONBIO, &mode);
}

}  // namespace

THandle Accept(THandle listener) { return H(::accept(S(listener), nullptr, nullptr)); }

void Close(THandle s) { ::closesocket(S(s)); }

void ShutdownSend(THandle s) { ::shutdown(S(s), SD_SEND); }

long long Recv(THandle s, char* data, std::size_t size) { return ::recv(S(s), data, Capped(size), 0); }

long long Send(THandle s, const char* data, std::size_t size) { return ::send(S(s), data, Capped(size), 0); }

long long SendNow(THandle s, const char* data, std::size_t size) {
    SetNonBlocking(S(s), true);
    const int sent = ::send(S(s), data, Capped(size), 0);
    const int error = sent < 0 ? ::WSAGetLastError() : 0;
    SetNonBlocking(S(s), false);
    if (sent >= 0) return sent;
    return error == WSAEWOULDBLOCK || error == WSAEINTR ? 0 : -1;
}

bool Raised(THandle stop, int timeoutMs) {
    WSAPOLLFD fd{S(stop), POLLRDNORM, 0};
    return ::WSAPoll(&fd, 1, timeoutMs) != 0;
}

void MakeSignal(THandle ends[2]) {
    int port = 0;
    const THandle listener = Listen(port);
    const THandle writer = Connect(port);
    const THandle reader = writer == None ? None : Accept(listener);
    Close(listener);
    if (reader == None) {
        if (writer != None) Close(writer);
        throw std::runtime_error("signal pair failed");
    }
    ends[0] = reader;
    ends[1] = writer;
}

void Raise(THandle raiseEnd) {
    char c = 1;
    ::send(S(raiseEnd), &c, 1, 0);
}

bool Take(THandle waitEnd) {
    char c;
    return ::recv(S(waitEnd), &c, 1, 0) == 1;
}

void CloseSignal(THandle ends[2]) {
    for (int i = 0; i < 2; ++i)
        if (ends[i] != None) ::closesocket(S(ends[i]));
}

void PauseMs(int ms) { ::Sleep(DWORD(ms)); }

namespace sys {

TPolled Poll(THandle s, bool forWrite, THandle stop, int timeoutMs) {
    WSAPOLLFD fds[2] = {{S(s), short(forWrite ? POLLWRNORM : POLLRDNORM), 0}, {S(stop), POLLRDNORM, 0}};
    TPolled polled;
    polled.count = ::WSAPoll(fds, stop == None ? 1 : 2, timeoutMs);
    polled.stopRaised = polled.count > 0 && stop != None && fds[1].revents != 0;
    polled.hungUp = (fds[0].revents & (POLLERR | POLLHUP)) != 0;
    return polled;
}

bool Name(THandle s, unsigned char ip[4], std::uint16_t& port) { return TNetSockaddr::Read<int>(S(s), false, ip, port); }

bool ConnectLoopback(THandle s, int port) {
    sockaddr_in addr = TNetSockaddr::Loopback(std::uint16_t(port));
    return ::connect(S(s), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
}

THandle NewSocket() {
    StartSockets();
    return H(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
}

bool BindLoopback(THandle s, bool listen) {
    sockaddr_in addr = TNetSockaddr::Loopback(0);
    if (::bind(S(s), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return false;
    return !listen || ::listen(S(s), 8) == 0;
}

}  // namespace sys

}  // namespace qz::test::loopback
