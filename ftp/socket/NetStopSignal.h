#pragma once
// A one-shot signal that ends a wait in another thread: the connect thread
// waits for the socket or for this. NetStopSignalPosix.cpp (a pipe) and
// NetStopSignalWindows.cpp (an event) hold the system calls.
#include <cstdint>

class TNetStopSignal {
public:
    TNetStopSignal();   // raises ENetSocketError when the system has none left
    ~TNetStopSignal();
    TNetStopSignal(const TNetStopSignal&) = delete;
    TNetStopSignal& operator=(const TNetStopSignal&) = delete;

    void Raise();
    // What TNetSocketHandle::AwaitConnect waits on beside the socket: the
    // pipe's reading end, or the event's handle.
    std::intptr_t WaitHandle() const { return wait_; }

private:
    std::intptr_t wait_ = -1;
    std::intptr_t raise_ = -1;
};
