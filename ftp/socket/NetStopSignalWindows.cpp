#include "ftp/socket/NetStopSignal.h"

#include <windows.h>

#include "ftp/socket/NetStack.h"

// A manual-reset event: once raised it stays raised for every wait.
TNetStopSignal::TNetStopSignal() {
    HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!event) TNetStack::RaiseSocketError(10055);
    wait_ = raise_ = reinterpret_cast<std::intptr_t>(event);
}

TNetStopSignal::~TNetStopSignal() { ::CloseHandle(reinterpret_cast<HANDLE>(wait_)); }

void TNetStopSignal::Raise() { ::SetEvent(reinterpret_cast<HANDLE>(raise_)); }
