#pragma once
// The system calls under TNetSocketHandle, and nothing else:
// NetSocketHandlePosix.cpp (descriptors, poll) and NetSocketHandleWindows.cpp
// (Winsock 2, select). Nothing here raises; errors come back as socket error
// numbers in the Windows Sockets numbering (see TNetStack).
#include <cstddef>
#include <cstdint>

namespace TNetSocketSystem {

constexpr std::intptr_t NoSocket = -1;
// A connect still under way.
constexpr int ConnectPending = -1;

struct TAddress {
    unsigned char Ip[4] = {};  // in the order written; all zero: any
    std::uint16_t Port = 0;    // 0: any
};

// A new IPv4 stream socket not inherited by child processes, or NoSocket.
std::intptr_t Open();
// Shuts the sending side, then closes.
void Close(std::intptr_t s);
void SetNoDelay(std::intptr_t s);
// 0 or the socket error number.
int Bind(std::intptr_t s, const TAddress& at);

// Makes the socket non-blocking for a connect; `saved` keeps what
// RestoreBlocking puts back. 0 or the socket error number.
int BeginNonBlocking(std::intptr_t s, int& saved);
void RestoreBlocking(std::intptr_t s, int saved);
// Sends the connect request on a non-blocking socket: 0 when connected,
// ConnectPending, or the socket error number.
int Connect(std::intptr_t s, const TAddress& to);
// Waits up to timeoutMs (-1: no limit) for a connect under way to end:
// 0, ConnectPending when the time is up, 10004 when `stop` (a
// TNetStopSignal's WaitHandle, -1 for none) was raised, or the error.
int AwaitConnect(std::intptr_t s, std::intptr_t stop, int timeoutMs);

enum class TWait { Read, Write };
// 1 when ready (or in error) within timeoutMs (-1: no limit), 0 when not,
// minus the socket error number when the wait itself failed.
int Wait(std::intptr_t s, TWait what, int timeoutMs);
// Bytes moved (>= 0) or minus the socket error number. Send never blocks.
long long Send(std::intptr_t s, const char* data, std::size_t size);
long long Recv(std::intptr_t s, char* data, std::size_t size);

// The socket's own address or its peer's; false when there is none.
enum class TEnd { Local, Peer };
bool AddressOf(std::intptr_t s, TEnd end, TAddress& out);

}  // namespace TNetSocketSystem
