#include "upload/AuditWriter.h"

#include <utility>

#include "data/table/DbfTable.h"

TAuditWriter::~TAuditWriter() {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        WaitIdle(lock);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void TAuditWriter::Write(const UpLogRow& row) {
    std::unique_lock<std::mutex> lock(mutex_);
    WaitIdle(lock);
    if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
    FillUpLogRow(upLog_, row);
    posting_ = true;
    if (!thread_.joinable()) thread_ = std::thread([this] { Loop(); });
    lock.unlock();
    changed_.notify_all();
}

void TAuditWriter::Finish() {
    std::unique_lock<std::mutex> lock(mutex_);
    WaitIdle(lock);
    if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

void TAuditWriter::Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    WaitIdle(lock);
}

void TAuditWriter::Restart() {
    std::unique_lock<std::mutex> lock(mutex_);
    WaitIdle(lock);
    failure_ = nullptr;
}

void TAuditWriter::WaitIdle(std::unique_lock<std::mutex>& lock) {
    changed_.wait(lock, [this] { return !posting_; });
}

void TAuditWriter::Loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return posting_ || stopping_; });
        if (!posting_) return;
        lock.unlock();
        std::exception_ptr failure;
        try {
            upLog_.Post();
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        posting_ = false;
        if (failure) failure_ = failure;
        changed_.notify_all();
    }
}
