#pragma once
// The sockets the test servers need, on 127.0.0.1 only: the system calls in
// LoopbackSocketsPosix.cpp (descriptors, pipes, poll) and
// LoopbackSocketsWindows.cpp (Winsock 2, loopback socket pairs, WSAPoll),
// what both share in LoopbackSockets.cpp. The scripted server and the real
// servers' start-up check are written once above them.
#include <cstddef>
#include <cstdint>
#include <string>

namespace qz::test::loopback {

using THandle = std::intptr_t;
constexpr THandle None = -1;

// A listening socket on 127.0.0.1 at a free port, which `port` receives.
// Throws std::runtime_error.
THandle Listen(int& port);
// A port nothing listens on now.
int FreePort();
// A connected socket, or None.
THandle Accept(THandle listener);
THandle Connect(int port);
void Close(THandle s);
void ShutdownSend(THandle s);
// The dotted address the socket is bound to.
std::string LocalAddress(THandle s);

// Bytes received (0: the end of the stream), or < 0 on error.
long long Recv(THandle s, char* data, std::size_t size);
// Bytes sent, blocking until some go; < 0 on error (never a signal).
long long Send(THandle s, const char* data, std::size_t size);
// The same without blocking: 0 when no byte can go now.
long long SendNow(THandle s, const char* data, std::size_t size);

enum class TReady { Ready, Broken, Stopped };
// Waits until `s` can be read (or written) or `stop` is raised (a signal's
// reading end; None for no stop), up to timeoutMs (-1: no limit). Broken:
// the wait failed, the connection is in error or hung up, or the time ran out.
TReady Wait(THandle s, bool forWrite, THandle stop, int timeoutMs = -1);
// True when `stop` is raised within timeoutMs.
bool Raised(THandle stop, int timeoutMs);

// A one-way signal between threads: ends[0] to wait on, ends[1] to raise.
// Throws std::runtime_error.
void MakeSignal(THandle ends[2]);
void Raise(THandle raiseEnd);
// Takes one raise; false when there was none to take.
bool Take(THandle waitEnd);
void CloseSignal(THandle ends[2]);

void PauseMs(int ms);

// The system's part of the calls above that LoopbackSockets.cpp writes once.
namespace sys {
// A new stream socket, or None.
THandle NewSocket();
// Binds to 127.0.0.1 at a free port, and listens when `listen`.
bool BindLoopback(THandle s, bool listen);
bool ConnectLoopback(THandle s, int port);
// The address the socket is bound to; false when it is not.
bool Name(THandle s, unsigned char ip[4], std::uint16_t& port);
// One poll of `s` (and `stop` unless None): how many were ready (< 0 on
// error), whether `stop` was, whether `s` is in error or hung up.
struct TPolled {
    int count = 0;
    bool stopRaised = false;
    bool hungUp = false;
};
TPolled Poll(THandle s, bool forWrite, THandle stop, int timeoutMs);
}  // namespace sys

}  // namespace qz::test::loopback
