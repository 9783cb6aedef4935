#include "ftp/iohandler/NetAntiFreeze.h"

#include <atomic>

namespace {
std::atomic<TNetAntiFreezeBase*> inForce{nullptr};
}

TNetAntiFreezeBase::TNetAntiFreezeBase() : owner_(std::this_thread::get_id()) { inForce.store(this); }

TNetAntiFreezeBase::~TNetAntiFreezeBase() {
    TNetAntiFreezeBase* self = this;
    inForce.compare_exchange_strong(self, nullptr);
}

TNetAntiFreezeBase* TNetAntiFreezeBase::InForce() { return inForce.load(); }

bool TNetAntiFreezeBase::ShouldUse() {
    TNetAntiFreezeBase* af = InForce();
    return af && af->Active && af->IsOwnerThread();
}

void TNetAntiFreezeBase::DoProcess(bool idle, bool override) {
    TNetAntiFreezeBase* af = InForce();
    if (!af || !af->Active || !af->IsOwnerThread()) return;
    if (idle || !af->OnlyWhenIdle || override) af->Run(af->ApplicationHasPriority);
}

void TNetAntiFreezeBase::DoProcessUnlessRecent(std::chrono::milliseconds recent) {
    TNetAntiFreezeBase* af = InForce();
    if (!af || !af->Active || !af->IsOwnerThread()) return;
    if (std::chrono::steady_clock::now() - af->lastRun_ >= recent) af->Run(af->ApplicationHasPriority);
}

void TNetAntiFreezeBase::Run(bool handleAll) {
    Process(handleAll);
    lastRun_ = std::chrono::steady_clock::now();
}

void TNetAntiFreeze::Process(bool handleAll) {
    if (ProcessMessages) ProcessMessages(handleAll);
}
