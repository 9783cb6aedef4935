#include "data/storage/Checkpointer.h"

#include "data/storage/OsFile.h"
#include "data/storage/XbaseTable.h"

namespace xbase {
namespace {

constexpr auto kRetry = std::chrono::milliseconds(100);

}  // namespace

Checkpointer::Checkpointer(std::filesystem::path dbfPath, locks::Scheme scheme, bool shared, std::mutex& updateMutex)
    : dbfPath_(std::move(dbfPath)), scheme_(scheme), shared_(shared), updateMutex_(updateMutex),
      journal_(Journal::pathFor(dbfPath_)), thread_([this] { run(); })
{
}

Checkpointer::~Checkpointer()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void Checkpointer::wrote(const std::filesystem::path& cdxPath)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        cdxPath_ = cdxPath;
        if (due_) return;
        due_ = std::chrono::steady_clock::now() + std::chrono::nanoseconds(Journal::kMaxAgeNs);
    }
    wake_.notify_one();
}

void Checkpointer::run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
        if (!due_) {
            wake_.wait(lock);
            continue;
        }
        if (wake_.wait_until(lock, *due_) != std::cv_status::timeout && std::chrono::steady_clock::now() < *due_) continue;
        if (stop_) break;
        due_.reset();
        const std::filesystem::path cdxPath = cdxPath_;
        lock.unlock();
        bool done = false;
        try {
            done = checkpoint(cdxPath);
        } catch (const XbaseError&) {
            // The next update, or closing the table, checkpoints.
            done = true;
        }
        lock.lock();
        if (!done && !due_) due_ = std::chrono::steady_clock::now() + kRetry;
    }
}

bool Checkpointer::checkpoint(const std::filesystem::path& cdxPath)
{
    std::lock_guard<std::mutex> updates(updateMutex_);
    OsFile dbf = OsFile::open(dbfPath_, true, kFileNotFound);
    std::optional<OsFile> cdx;
    if (!cdxPath.empty()) cdx = OsFile::open(cdxPath, true, kFileNotFound);
    if (!dbf.writable() || (cdx && !cdx->writable())) return true;
    if (shared_) {
        // Never waits: a busy table is tried again shortly.
        if (!dbf.tryLockRange(scheme_.headerLock(), 1, OsFile::LockKind::Exclusive)) return false;
        if (cdx && !cdx->tryLockRange(locks::kIndexLockOffset, 1, OsFile::LockKind::Exclusive)) return false;
    }
    // The locks go with the files' handles, closed on return.
    journal_.checkpoint(dbf, cdx ? &*cdx : nullptr);
    return true;
}

}  // namespace xbase
