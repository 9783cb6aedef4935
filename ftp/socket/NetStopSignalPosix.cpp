#include "ftp/socket/NetStopSignal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "ftp/socket/NetStack.h"

TNetStopSignal::TNetStopSignal() {
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC) != 0) TNetStack::RaiseSocketError(TNetStack::TranslateErrno(errno));
    wait_ = ends[0];
    raise_ = ends[1];
}

TNetStopSignal::~TNetStopSignal() {
    ::close(static_cast<int>(wait_));
    ::close(static_cast<int>(raise_));
}

void TNetStopSignal::Raise() {
    char signal = 1;
    [[maybe_unused]] ssize_t n = ::write(static_cast<int>(raise_), &signal, 1);
}
