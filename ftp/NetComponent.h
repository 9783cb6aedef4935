#pragma once
// Root classes of the network layer: the work notifications that report the
// progress of a transfer.
#include <functional>

enum class TWorkMode { wmRead = 0, wmWrite = 1 };

class TNetComponent;

using TWorkBeginEvent = std::function<void(TNetComponent& sender, TWorkMode mode, long long workCountMax)>;
using TWorkEvent = std::function<void(TNetComponent& sender, TWorkMode mode, long long workCount)>;
using TWorkEndEvent = std::function<void(TNetComponent& sender, TWorkMode mode)>;

class TNetBaseComponent {
public:
    TNetBaseComponent() = default;
    virtual ~TNetBaseComponent() = default;
    TNetBaseComponent(const TNetBaseComponent&) = delete;
    TNetBaseComponent& operator=(const TNetBaseComponent&) = delete;
};

// Keeps the socket layer of the process alive while any instance exists.
class TNetComponent : public TNetBaseComponent {
public:
    TNetComponent();
    ~TNetComponent() override;

    // Only a begin/end bracket turns progress into events; nested brackets
    // raise nothing of their own.
    void BeginWork(TWorkMode mode, long long workCountMax);
    void DoWork(TWorkMode mode, long long count);
    void EndWork(TWorkMode mode);

    TWorkBeginEvent OnWorkBegin;
    TWorkEvent OnWork;
    TWorkEndEvent OnWorkEnd;

private:
    struct WorkState {
        int level = 0;
        long long position = 0;
        long long total = 0;
    };
    WorkState& State(TWorkMode mode) { return work_[static_cast<int>(mode)]; }
    WorkState work_[2];
};
