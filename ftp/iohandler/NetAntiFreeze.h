#pragma once
// Keeps the window alive while the user-interface thread blocks in a network
// wait. The window installs ProcessMessages; this layer knows no toolkit.
#include <chrono>
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
    // The idle step, unless the window's messages were handled less than
    // `recent` ago: for a wait that ended at once, such as a connect on a
    // near network, where a step each time would repaint the window for
    // every file of a fast run.
    static void DoProcessUnlessRecent(std::chrono::milliseconds recent);
    // True when waits of the calling thread are to be cut into slices.
    static bool ShouldUse();

protected:
    // handleAll: every pending message rather than one.
    virtual void Process(bool handleAll) = 0;

private:
    bool IsOwnerThread() const { return std::this_thread::get_id() == owner_; }
    void Run(bool handleAll);
    std::thread::id owner_;
    std::chrono::steady_clock::time_point lastRun_ {};
};

class TNetAntiFreeze : public TNetAntiFreezeBase {
public:
    std::function<void(bool handleAll)> ProcessMessages;

protected:
    void Process(bool handleAll) override;
};
