#include "ftp/socket/NetSocketHandle.h"

#include <string>

#include "ftp/NetExceptions.h"
#include "ftp/socket/NetSocketSystem.h"
#include "ftp/socket/NetStack.h"

// What a socket does, once for every system; the system calls are behind
// TNetSocketSystem (NetSocketHandlePosix.cpp, NetSocketHandleWindows.cpp).
namespace Sys = TNetSocketSystem;

static_assert(TNetSocketHandle::ConnectPending == Sys::ConnectPending);

namespace {

Sys::TAddress MakeAddress(const std::string& ip, int port) {
    Sys::TAddress addr;
    // Port numbers wrap like the 16-bit field they go into.
    addr.Port = static_cast<std::uint16_t>(port);
    if (!ip.empty() && !TNetStack::ParseDottedAddress(ip, addr.Ip)) TNetStack::RaiseSocketError(10049);
    return addr;
}

void ReadAddress(std::intptr_t s, Sys::TEnd end, std::string& ip, int& port) {
    Sys::TAddress addr;
    if (!Sys::AddressOf(s, end, addr)) return;
    ip = std::to_string(addr.Ip[0]) + '.' + std::to_string(addr.Ip[1]) + '.' + std::to_string(addr.Ip[2]) + '.' +
         std::to_string(addr.Ip[3]);
    port = addr.Port;
}

}  // namespace

TNetSocketHandle::~TNetSocketHandle() { Close(); }

void TNetSocketHandle::Allocate() {
    Close();
    TNetStack::Startup();
    fd_ = Sys::Open();
    if (fd_ == Sys::NoSocket) throw ENetInvalidSocket();
}

void TNetSocketHandle::SetNoDelay() { Sys::SetNoDelay(fd_); }

void TNetSocketHandle::Bind(const std::string& ip, int port) {
    const int n = Sys::Bind(fd_, MakeAddress(ip, port));
    if (n == 10048) throw ENetCouldNotBindSocket();
    if (n != 0) TNetStack::RaiseSocketError(n);
}

int TNetSocketHandle::BeginConnect(const std::string& ip, int port) {
    const Sys::TAddress addr = MakeAddress(ip, port);
    if (int n = Sys::BeginNonBlocking(fd_, blockingFlags_); n != 0) return n;
    const int result = Sys::Connect(fd_, addr);
    if (result != ConnectPending) Sys::RestoreBlocking(fd_, blockingFlags_);
    return result;
}

int TNetSocketHandle::AwaitConnect(std::intptr_t stopHandle, int timeoutMs) {
    const int result = Sys::AwaitConnect(fd_, stopHandle, timeoutMs);
    if (result != ConnectPending) Sys::RestoreBlocking(fd_, blockingFlags_);
    return result;
}

void TNetSocketHandle::Close() {
    if (!HandleAllocated()) return;
    Sys::Close(fd_);
    fd_ = Sys::NoSocket;
}

namespace {
bool WaitFor(std::intptr_t s, Sys::TWait what, int timeoutMs) {
    const int n = Sys::Wait(s, what, timeoutMs);
    if (n < 0) TNetStack::RaiseSocketError(-n);
    return n > 0;
}
}  // namespace

bool TNetSocketHandle::Readable(int timeoutMs) { return WaitFor(fd_, Sys::TWait::Read, timeoutMs); }

bool TNetSocketHandle::Writable(int timeoutMs) { return WaitFor(fd_, Sys::TWait::Write, timeoutMs); }

long long TNetSocketHandle::Send(const char* data, std::size_t size) {
    if (!HandleAllocated()) throw ENetClosedSocket();
    // Never blocks: the caller waits for room in slices of its own.
    return Sys::Send(fd_, data, size);
}

long long TNetSocketHandle::Recv(char* data, std::size_t size) {
    if (!HandleAllocated()) throw ENetClosedSocket();
    return Sys::Recv(fd_, data, size);
}

void TNetSocketHandle::UpdateBindings() {
    ReadAddress(fd_, Sys::TEnd::Local, ip_, port_);
    ReadAddress(fd_, Sys::TEnd::Peer, peerIP_, peerPort_);
}
