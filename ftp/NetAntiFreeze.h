#pragma once
// Keeps the window alive while the user-interface thread blocks in a network
// wait. The window installs ProcessMessages; this layer knows no toolkit.
#include <functional>
#include <thread>

#include "ftp/NetComponent.h"

class TNetAntiFreezeBase : public TNetBaseComponent {
public:
    // The new instance becomes the one in force for the process.
    TNetAntiFreezeBase();
    ~TNetAntiFreezeBase() override;

    bool Active = true;
    bool ApplicationHasPriority = true;
    int IdleTimeOut = 250;  // milliseconds per slice of a wait for data
    bool OnlyWhenIdle = true;

    // The instance in force, or null.
    static TNetAntiFreezeBase* InForce();
    // The step called from the waits: acts only for the instance in force,
    // when active, on the thread that created it.
    static void DoProcess(bool idle = true, bool override = false);
    // True when waits of the calling thread are to be cut into slices.
    static bool ShouldUse();

protected:
    // handleAll: every pending message rather than one.
    virtual void Process(bool handleAll) = 0;

private:
    bool IsOwnerThread() const { return std::this_thread::get_id() == owner_; }
    std::thread::id owner_;
};

class TNetAntiFreeze : public TNetAntiFreezeBase {
public:
    std::function<void(bool handleAll)> ProcessMessages;

protected:
    void Process(bool handleAll) override;
};
