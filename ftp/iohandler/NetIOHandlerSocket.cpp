#include "ftp/iohandler/NetIOHandlerSocket.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <memory>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "ftp/NetExceptions.h"
#include "ftp/iohandler/NetAntiFreeze.h"
#include "ftp/socket/NetSocketHandle.h"
#include "ftp/socket/NetStack.h"
#include "ftp/socket/NetStopSignal.h"

namespace {

constexpr int ConnectWaitStep = 125;  // milliseconds
// A connect that ends within its first step runs the window's step only when
// the window has waited this long: often enough to repaint and react, not
// once for every file of a fast run.
constexpr std::chrono::milliseconds ConnectStepInterval{40};

// The text kept for a failed connect: every error number is a failure, 10009
// and 10038 (a descriptor closed or replaced under the connect) included.
std::string ConnectErrorText(int err) { return err != 0 ? SocketErrorText(err) : std::string(); }

// The name lookup of a connect, on a thread of its own: the platform's lookup
// has no time-out of ours, and a resolver that never answers would freeze the
// window that waits for it. The caller waits in steps, running the window's
// step, within the connect time-out. A lookup cannot be cancelled: one that
// outlives the wait finishes on its own thread and its result is dropped.
class TNetLookup {
public:
    explicit TNetLookup(const std::string& host) : state_(std::make_shared<State>()) {
        std::thread([state = state_, host] {
            std::string ip;
            std::exception_ptr failure;
            try {
                ip = TNetStack::ResolveHost(host);
            } catch (...) {
                failure = std::current_exception();
            }
            std::lock_guard lock(state->mutex);
            state->ip = std::move(ip);
            state->failure = failure;
            state->finished = true;
            state->done.notify_all();
        }).detach();
    }

    bool WaitFinished(int ms) {
        std::unique_lock lock(state_->mutex);
        return state_->done.wait_for(lock, std::chrono::milliseconds(ms), [this] { return state_->finished; });
    }
    // The address found; raises the lookup's error. Only once finished.
    std::string Result() {
        std::lock_guard lock(state_->mutex);
        if (state_->failure) std::rethrow_exception(state_->failure);
        return state_->ip;
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        std::string ip;
        std::exception_ptr failure;
    };
    std::shared_ptr<State> state_;
};

bool NeedsLookup(const std::string& host) {
    std::string lower = host;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower != "localhost" && !TNetStack::IsDottedAddress(host);
}

int WaitStep() {
    TNetAntiFreezeBase* af = TNetAntiFreezeBase::InForce();
    return af ? std::min(std::max(1, af->IdleTimeOut), ConnectWaitStep) : ConnectWaitStep;
}

// The host's address, looked up within `timeoutMs` (none when not above 0),
// which is reduced by the time the lookup took. Past it: "Connect timed out."
std::string ResolveWithin(const std::string& host, int& timeoutMs) {
    if (!NeedsLookup(host)) return TNetStack::ResolveHost(host);
    const auto start = std::chrono::steady_clock::now();
    TNetLookup lookup(host);
    const int step = WaitStep();
    while (!lookup.WaitFinished(step)) {
        TNetAntiFreezeBase::DoProcess(true);
        const auto spent =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        if (timeoutMs > 0 && spent >= timeoutMs) throw ENetConnectTimeout();
    }
    if (timeoutMs > 0) {
        const auto spent =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        timeoutMs = std::max(1, timeoutMs - static_cast<int>(spent));
    }
    return lookup.Result();
}

// Waits for a connect under way; the waiting thread polls `Finished` and may
// abandon it through the stop signal.
class TNetConnectThread {
public:
    explicit TNetConnectThread(TNetSocketHandle& socket) {
        thread_ = std::thread([this, &socket] { Run(socket); });
    }
    ~TNetConnectThread() { Stop(); }
    TNetConnectThread(const TNetConnectThread&) = delete;
    TNetConnectThread& operator=(const TNetConnectThread&) = delete;

    // Waits up to ms for the thread to finish; true when it has.
    bool WaitFinished(int ms) {
        std::unique_lock lock(mutex_);
        return done_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return finished_; });
    }
    bool Finished() {
        std::lock_guard lock(mutex_);
        return finished_;
    }
    void Stop() {
        if (!thread_.joinable()) return;
        stop_.Raise();
        thread_.join();
    }
    // Valid once the thread has ended.
    const std::string& ErrorMessage() const { return error_; }

private:
    void Run(TNetSocketHandle& socket) {
        std::string message = ConnectErrorText(socket.AwaitConnect(stop_.WaitHandle(), -1));
        std::lock_guard lock(mutex_);
        error_ = std::move(message);
        finished_ = true;
        done_.notify_all();
    }

    TNetStopSignal stop_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    std::string error_;
};

}  // namespace

TNetIOHandlerSocket::TNetIOHandlerSocket() = default;
TNetIOHandlerSocket::~TNetIOHandlerSocket() = default;

void TNetIOHandlerSocket::Open() { binding_ = std::make_unique<TNetSocketHandle>(); }

bool TNetIOHandlerSocket::Connected() const { return binding_ && binding_->HandleAllocated(); }

void TNetIOHandlerSocket::Close() {
    if (binding_) binding_->Close();
}

namespace {

// A readiness wait of timeoutMs (-1: no limit), cut into slices of
// IdleTimeOut (the first taking the remainder) with the window's messages
// handled between them when the calling thread is the window's.
template <typename Test, typename Open>
bool SlicedWait(int timeoutMs, Test ready, Open open) {
    if (!open()) throw ENetConnClosedGracefully();
    if (!TNetAntiFreezeBase::ShouldUse()) return ready(timeoutMs);

    int idle = std::max(1, TNetAntiFreezeBase::InForce()->IdleTimeOut);
    int remaining = timeoutMs;
    int slice = timeoutMs < 0 ? idle : (timeoutMs > idle ? timeoutMs - ((timeoutMs - 1) / idle) * idle : timeoutMs);
    while (true) {
        bool isReady = ready(slice);
        TNetAntiFreezeBase::DoProcess(!isReady);
        if (isReady) return true;
        if (!open()) throw ENetConnClosedGracefully();
        if (remaining >= 0) {
            remaining -= slice;
            if (remaining <= 0) return false;
        }
        slice = idle;
    }
}

}  // namespace

bool TNetIOHandlerSocket::Readable(int timeoutMs) {
    return SlicedWait(
        timeoutMs, [this](int ms) { return binding_->Readable(ms); }, [this] { return Connected(); });
}

bool TNetIOHandlerSocket::Writable(int timeoutMs) {
    return SlicedWait(
        timeoutMs, [this](int ms) { return binding_->Writable(ms); }, [this] { return Connected(); });
}

long long TNetIOHandlerSocket::Send(const char* data, std::size_t size) {
    if (!binding_) throw ENetClosedSocket();
    return binding_->Send(data, size);
}

long long TNetIOHandlerSocket::Recv(char* data, std::size_t size) {
    if (!binding_) throw ENetClosedSocket();
    return binding_->Recv(data, size);
}

std::string TNetIOHandlerSocket::PeerIP() const { return binding_ ? binding_->PeerIP() : std::string(); }

void TNetIOHandlerSocket::ConnectClient(const std::string& host, int port, const std::string& boundIP, int boundPort,
                                        int timeoutMs) {
    binding_->Allocate();
    if (!UseNagle) binding_->SetNoDelay();
    binding_->Bind(boundIP, boundPort);
    std::string ip = ResolveWithin(host, timeoutMs);

    // A server that answers at once (on this machine or a near network)
    // needs no connect thread and no wait.
    int begun = 0;
    try {
        begun = binding_->BeginConnect(ip, port);
    } catch (const ENetSocketError& e) {
        begun = e.LastError();   // an address the socket layer refuses: a failed connect
    }
    if (begun == TNetSocketHandle::ConnectPending) begun = binding_->AwaitConnect(-1, 0);
    if (begun != TNetSocketHandle::ConnectPending) {
        TNetAntiFreezeBase::DoProcessUnlessRecent(ConnectStepInterval);
        const std::string error = ConnectErrorText(begun);
        if (!error.empty()) throw ENetConnectException(error);
        binding_->UpdateBindings();
        return;
    }

    const int step = WaitStep();
    TNetConnectThread connect(*binding_);
    int remaining = timeoutMs;
    bool finished = false;
    while (remaining > step) {
        finished = connect.WaitFinished(step);
        if (finished)
            TNetAntiFreezeBase::DoProcessUnlessRecent(ConnectStepInterval);
        else
            TNetAntiFreezeBase::DoProcess(true);
        remaining -= step;
        if (finished) break;
    }
    if (!finished) finished = connect.WaitFinished(std::max(0, remaining));
    if (!finished) {
        connect.Stop();
        binding_->Close();
        throw ENetConnectTimeout();
    }
    connect.Stop();
    if (!connect.ErrorMessage().empty()) throw ENetConnectException(connect.ErrorMessage());
    binding_->UpdateBindings();
}
