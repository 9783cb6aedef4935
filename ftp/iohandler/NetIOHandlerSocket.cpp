#include "ftp/iohandler/NetIOHandlerSocket.h"

#include <algorithm>
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
    std::string ip = TNetStack::ResolveHost(host);

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

    TNetAntiFreezeBase* af = TNetAntiFreezeBase::InForce();
    int step = af ? std::min(std::max(1, af->IdleTimeOut), ConnectWaitStep) : ConnectWaitStep;
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
