#include "ftp/NetSocketHandle.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "ftp/NetExceptions.h"
#include "ftp/NetStack.h"

// The socket on Windows (NetSocketHandle.cpp is the POSIX one): Winsock 2,
// whose error numbers are the program's own. Readiness waits use select(),
// which reports a failed connect in its exception set on every Windows
// version (WSAPoll did not before Windows 10 2004).
namespace {

SOCKET AsSocket(std::intptr_t fd) { return static_cast<SOCKET>(fd); }

sockaddr_in MakeAddress(const std::string& ip, int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    // Port numbers wrap like the 16-bit field they go into.
    addr.sin_port = htons(static_cast<u_short>(port));
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

enum class Wait { Read, Write };

// True when the socket is ready (or in error) within timeoutMs (-1: no limit).
bool SelectFor(SOCKET s, Wait what, int timeoutMs) {
    fd_set ready, failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(s, &ready);
    FD_SET(s, &failed);
    timeval tv = MakeTimeval(std::max(0, timeoutMs));
    const int n = ::select(0, what == Wait::Read ? &ready : nullptr, what == Wait::Write ? &ready : nullptr, &failed,
                           timeoutMs < 0 ? nullptr : &tv);
    if (n == SOCKET_ERROR) TNetStack::RaiseSocketError(::WSAGetLastError());
    return n > 0;
}

}  // namespace

TNetSocketHandle::~TNetSocketHandle() { Close(); }

void TNetSocketHandle::Allocate() {
    Close();
    TNetStack::Startup();
    // WSA_FLAG_NO_HANDLE_INHERIT: the counterpart of SOCK_CLOEXEC.
    const SOCKET s = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) throw ENetInvalidSocket();
    fd_ = static_cast<std::intptr_t>(s);
}

void TNetSocketHandle::SetNoDelay() {
    BOOL on = TRUE;
    ::setsockopt(AsSocket(fd_), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

void TNetSocketHandle::Bind(const std::string& ip, int port) {
    sockaddr_in addr = MakeAddress(ip, port);
    if (::bind(AsSocket(fd_), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        const int n = ::WSAGetLastError();
        if (n == 10048) throw ENetCouldNotBindSocket();
        TNetStack::RaiseSocketError(n);
    }
}

int TNetSocketHandle::BeginConnect(const std::string& ip, int port) {
    sockaddr_in addr = MakeAddress(ip, port);
    const SOCKET s = AsSocket(fd_);
    SetNonBlocking(s, true);
    int result = 0;
    if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        result = ::WSAGetLastError();
        if (result == WSAEWOULDBLOCK) return ConnectPending;
    }
    SetNonBlocking(s, false);
    return result;
}

int TNetSocketHandle::AwaitConnect(std::intptr_t stopHandle, int timeoutMs) {
    // select() cannot wait on the stop event, so the wait goes in short
    // steps with a look at the event between them.
    constexpr int Step = 20;
    const SOCKET s = AsSocket(fd_);
    HANDLE stop = stopHandle == -1 ? nullptr : reinterpret_cast<HANDLE>(stopHandle);
    const ULONGLONG deadline = timeoutMs < 0 ? 0 : ::GetTickCount64() + ULONGLONG(timeoutMs);
    int result = 0;
    while (true) {
        if (stop && ::WaitForSingleObject(stop, 0) == WAIT_OBJECT_0) {
            result = 10004;  // abandoned by the waiting thread
            break;
        }
        int wait = Step;
        if (timeoutMs >= 0) {
            const ULONGLONG now = ::GetTickCount64();
            wait = now >= deadline ? 0 : int(std::min<ULONGLONG>(deadline - now, Step));
        }
        fd_set done, failed;
        FD_ZERO(&done);
        FD_ZERO(&failed);
        FD_SET(s, &done);
        FD_SET(s, &failed);
        timeval tv = MakeTimeval(wait);
        const int n = ::select(0, nullptr, &done, &failed, &tv);
        if (n == SOCKET_ERROR) {
            result = ::WSAGetLastError();
            break;
        }
        if (n > 0) {
            int err = 0;
            int len = sizeof err;
            ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len);
            // A failed connect shows in the exception set; its error is
            // there, or 10061 when the stack kept none.
            result = err ? err : (FD_ISSET(s, &failed) ? 10061 : 0);
            break;
        }
        if (timeoutMs >= 0 && ::GetTickCount64() >= deadline) return ConnectPending;
    }
    SetNonBlocking(s, false);
    return result;
}

void TNetSocketHandle::Close() {
    if (fd_ == -1) return;
    ::shutdown(AsSocket(fd_), SD_SEND);
    ::closesocket(AsSocket(fd_));
    fd_ = -1;
}

bool TNetSocketHandle::Readable(int timeoutMs) { return SelectFor(AsSocket(fd_), Wait::Read, timeoutMs); }

bool TNetSocketHandle::Writable(int timeoutMs) { return SelectFor(AsSocket(fd_), Wait::Write, timeoutMs); }

long long TNetSocketHandle::Send(const char* data, std::size_t size) {
    if (fd_ == -1) throw ENetClosedSocket();
    // Never blocks: the caller waits for room in slices of its own.
    const SOCKET s = AsSocket(fd_);
    SetNonBlocking(s, true);
    const int n = ::send(s, data, int(std::min<std::size_t>(size, 1 << 30)), 0);
    const int error = n == SOCKET_ERROR ? ::WSAGetLastError() : 0;
    SetNonBlocking(s, false);
    return n == SOCKET_ERROR ? -static_cast<long long>(error) : n;
}

long long TNetSocketHandle::Recv(char* data, std::size_t size) {
    if (fd_ == -1) throw ENetClosedSocket();
    const int n = ::recv(AsSocket(fd_), data, int(std::min<std::size_t>(size, 1 << 30)), 0);
    return n == SOCKET_ERROR ? -static_cast<long long>(::WSAGetLastError()) : n;
}

void TNetSocketHandle::UpdateBindings() {
    sockaddr_in addr{};
    int len = sizeof addr;
    if (::getsockname(AsSocket(fd_), reinterpret_cast<sockaddr*>(&addr), &len) == 0) ReadAddress(addr, ip_, port_);
    len = sizeof addr;
    if (::getpeername(AsSocket(fd_), reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        ReadAddress(addr, peerIP_, peerPort_);
}
