#include "ftp/NetComponent.h"

// Nothing to start for POSIX sockets; broken connections must raise errors,
// not signals, which every send asks for with MSG_NOSIGNAL.
TNetComponent::TNetComponent() = default;
TNetComponent::~TNetComponent() = default;

void TNetComponent::BeginWork(TWorkMode mode, long long workCountMax) {
    WorkState& s = State(mode);
    if (++s.level == 1) {
        s.total = workCountMax;
        s.position = 0;
        if (OnWorkBegin) OnWorkBegin(*this, mode, workCountMax);
    }
}

void TNetComponent::DoWork(TWorkMode mode, long long count) {
    WorkState& s = State(mode);
    if (s.level >= 1) {
        s.position += count;
        if (OnWork) OnWork(*this, mode, s.position);
    }
}

void TNetComponent::EndWork(TWorkMode mode) {
    WorkState& s = State(mode);
    // The level drops even when the handler raises, so the bracket stays balanced.
    struct Drop {
        int& level;
        ~Drop() { --level; }
    } drop{s.level};
    if (s.level == 1 && OnWorkEnd) OnWorkEnd(*this, mode);
}
