#include "ftp/socket/NetSocketSystem.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>

#include "ftp/socket/NetSockaddr.h"

// The socket calls on Windows (NetSocketHandlePosix.cpp is the POSIX one):
// Winsock 2, whose error numbers are the program's own. Readiness waits use
// select(), which reports a failed connect in its exception set on every
// Windows version (WSAPoll did not before Windows 10 2004).
namespace TNetSocketSystem {

namespace {

SOCKET AsSocket(std::intptr_t s) { return static_cast<SOCKET>(s); }

void SetNonBlocking(SOCKET s, bool on) {
    u_long mode = on ? 1 : 0;
    ::ioctlsocket(s, FIONBIO, &mode);
}

timeval MakeTimeval(int ms) {
    timeval tv{};
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    return tv;
}

// select() on one socket: its count of ready sets, or SOCKET_ERROR.
// `failed` tells whether it showed in the exception set.
int SelectOne(SOCKET s, TWait what, timeval* tv, bool& failed) {
    fd_set ready, failedSet;
    FD_ZERO(&ready);
    FD_ZERO(&failedSet);
    FD_SET(s, &ready);
    FD_SET(s, &failedSet);
    const int n = ::select(0, what == TWait::Read ? &ready : nullptr, what == TWait::Write ? &ready : nullptr,
                           &failedSet, tv);
    failed = n > 0 && FD_ISSET(s, &failedSet);
    return n;
}

int CappedSize(std::size_t size) { return int(std::min<std::size_t>(size, 1 << 30)); }

}  // namespace

std::intptr_t Open() {
    // WSA_FLAG_NO_HANDLE_INHERIT: the counterpart of SOCK_CLOEXEC.
    const SOCKET s = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    return s == INVALID_SOCKET ? NoSocket : static_cast<std::intptr_t>(s);
}

void Close(std::intptr_t s) {
    ::shutdown(AsSocket(s), SD_SEND);
    ::closesocket(AsSocket(s));
}

void SetNoDelay(std::intptr_t s) {
    BOOL on = TRUE;
    ::setsockopt(AsSocket(s), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

int Bind(std::intptr_t s, const TAddress& at) {
    sockaddr_in addr = TNetSockaddr::Make(at.Ip, at.Port);
    return ::bind(AsSocket(s), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 ? 0 : ::WSAGetLastError();
}

int BeginNonBlocking(std::intptr_t s, int& saved) {
    saved = 0;  // a Winsock socket is blocking unless made otherwise
    SetNonBlocking(AsSocket(s), true);
    return 0;
}

void RestoreBlocking(std::intptr_t s, int) { SetNonBlocking(AsSocket(s), false); }

int Connect(std::intptr_t s, const TAddress& to) {
    sockaddr_in addr = TNetSockaddr::Make(to.Ip, to.Port);
    if (::connect(AsSocket(s), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return 0;
    const int error = ::WSAGetLastError();
    return error == WSAEWOULDBLOCK ? ConnectPending : error;
}

int AwaitConnect(std::intptr_t s, std::intptr_t stopHandle, int timeoutMs) {
    // select() cannot wait on the stop event, so the wait goes in short
    // steps with a look at the event between them.
    constexpr int Step = 20;
    HANDLE stop = stopHandle == -1 ? nullptr : reinterpret_cast<HANDLE>(stopHandle);
    const ULONGLONG deadline = timeoutMs < 0 ? 0 : ::GetTickCount64() + ULONGLONG(timeoutMs);
    while (true) {
        if (stop && ::WaitForSingleObject(stop, 0) == WAIT_OBJECT_0) return 10004;  // abandoned by the waiting thread
        int wait = Step;
        if (timeoutMs >= 0) {
            const ULONGLONG now = ::GetTickCount64();
            wait = now >= deadline ? 0 : int(std::min<ULONGLONG>(deadline - now, Step));
        }
        timeval tv = MakeTimeval(wait);
        bool failed = false;
        const int n = SelectOne(AsSocket(s), TWait::Write, &tv, failed);
        if (n == SOCKET_ERROR) return ::WSAGetLastError();
        if (n > 0) {
            int err = 0;
            int len = sizeof err;
            ::getsockopt(AsSocket(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len);
            // A failed connect shows in the exception set; its error is
            // there, or 10061 when the stack kept none.
            return err ? err : (failed ? 10061 : 0);
        }
        if (timeoutMs >= 0 && ::GetTickCount64() >= deadline) return ConnectPending;
    }
}

int Wait(std::intptr_t s, TWait what, int timeoutMs) {
    timeval tv = MakeTimeval(std::max(0, timeoutMs));
    bool failed = false;
    const int n = SelectOne(AsSocket(s), what, timeoutMs < 0 ? nullptr : &tv, failed);
    if (n == SOCKET_ERROR) return -::WSAGetLastError();
    return n > 0 ? 1 : 0;
}

long long Send(std::intptr_t s, const char* data, std::size_t size) {
    // Never blocks: the caller waits for room in slices of its own.
    SetNonBlocking(AsSocket(s), true);
    const int n = ::send(AsSocket(s), data, CappedSize(size), 0);
    const int error = n == SOCKET_ERROR ? ::WSAGetLastError() : 0;
    SetNonBlocking(AsSocket(s), false);
    return n == SOCKET_ERROR ? -static_cast<long long>(error) : n;
}

long long Recv(std::intptr_t s, char* data, std::size_t size) {
    const int n = ::recv(AsSocket(s), data, CappedSize(size), 0);
    return n == SOCKET_ERROR ? -static_cast<long long>(::WSAGetLastError()) : n;
}

bool AddressOf(std::intptr_t s, TEnd end, TAddress& out) {
    return TNetSockaddr::Read<int>(AsSocket(s), end == TEnd::Peer, out.Ip, out.Port);
}

}  // namespace TNetSocketSystem
