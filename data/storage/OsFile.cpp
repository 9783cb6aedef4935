// OsFile's logic, the same on every system: errors worded once, reads and
// writes looped until done, staging and the recorder seen at one place. The
// system calls sit behind OsFileSystem.h.
#include "data/storage/OsFile.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <utility>

#include "data/storage/XbaseTable.h"
#include "rtl/Utf8Path.h"

namespace xbase {
namespace sys = OsFileSystem;
namespace {

std::atomic<bool> g_syncEnabled{true};

[[noreturn]] void fail(int code, const std::filesystem::path& path, const std::string& what)
{
    throw XbaseError(code, Utf8FromPath(path.filename()) + ": " + what);
}

[[noreturn]] void fail(const std::filesystem::path& path, const sys::Error& error)
{
    // Another program opened it without sharing: an exclusive open.
    if (error.failure == sys::Failure::InUse) fail(kFileInUse, path, "file is open exclusively in another process");
    fail(kIoError, path, std::string(error.action) + " failed: " + error.message);
}

}  // namespace

void setSyncEnabled(bool enabled) { g_syncEnabled = enabled; }
bool syncEnabled() { return g_syncEnabled; }

OsFile::OsFile(std::intptr_t fd, std::filesystem::path path, bool writable)
    : fd_(fd), writable_(writable), path_(std::move(path))
{
}

OsFile OsFile::open(const std::filesystem::path& path, bool writable, int missingCode)
{
    sys::Error error;
    sys::Handle fd = sys::NoHandle;
    bool opened_rw = false;
    if (writable) {
        fd = sys::openExisting(path, true, error);
        opened_rw = fd != sys::NoHandle;
    }
    if (fd == sys::NoHandle && error.failure != sys::Failure::InUse) fd = sys::openExisting(path, false, error);
    if (fd == sys::NoHandle) {
        if (error.failure == sys::Failure::Missing) fail(missingCode, path, "file not found");
        fail(path, error);
    }
    if (!sys::isRegularFile(fd)) {
        sys::close(fd);
        fail(kIoError, path, "not a regular file");
    }
    return OsFile(fd, path, opened_rw);
}

OsFile OsFile::createNew(const std::filesystem::path& path)
{
    sys::Error error;
    sys::Handle fd = sys::create(path, sys::Creation::New, error);
    if (fd == sys::NoHandle) {
        if (error.failure == sys::Failure::Exists) fail(kIoError, path, "file already exists");
        fail(path, error);
    }
    return OsFile(fd, path, true);
}

OsFile OsFile::createOrTruncate(const std::filesystem::path& path)
{
    sys::Error error;
    sys::Handle fd = sys::create(path, sys::Creation::Truncate, error);
    if (fd == sys::NoHandle) fail(path, error);
    return OsFile(fd, path, true);
}

OsFile::OsFile(OsFile&& other) noexcept
    : fd_(std::exchange(other.fd_, sys::NoHandle)),
      writable_(other.writable_),
      path_(std::move(other.path_)),
      staged_(std::move(other.staged_)),
      locks_(std::move(other.locks_))
{
}

OsFile& OsFile::operator=(OsFile&& other) noexcept
{
    if (this != &other) {
        if (fd_ != sys::NoHandle) sys::close(fd_);
        fd_ = std::exchange(other.fd_, sys::NoHandle);
        writable_ = other.writable_;
        path_ = std::move(other.path_);
        staged_ = std::move(other.staged_);
        locks_ = std::move(other.locks_);
    }
    return *this;
}

OsFile::~OsFile()
{
    if (fd_ != sys::NoHandle) sys::close(fd_);
}

uint64_t OsFile::size() const
{
    sys::Error error;
    uint64_t size = 0;
    if (!sys::size(fd_, size, error)) fail(path_, error);
    if (staged_ && !staged_->empty()) {
        const auto& [offset, bytes] = *staged_->rbegin();
        size = std::max(size, offset + bytes.size());
    }
    return size;
}

size_t OsFile::readAt(uint64_t offset, std::span<uint8_t> buffer) const
{
    size_t done = 0;
    while (done < buffer.size()) {
        sys::Error error;
        const long long n = sys::readAt(fd_, offset + done, buffer.data() + done, buffer.size() - done, error);
        if (n < 0) fail(path_, error);
        if (n == 0) break;
        done += size_t(n);
    }
    return staged_ ? readStaged(offset, buffer, done) : done;
}

void OsFile::readExact(uint64_t offset, std::span<uint8_t> buffer, int shortCode, const std::string& what) const
{
    if (readAt(offset, buffer) != buffer.size())
        fail(shortCode, path_, what + " at offset " + std::to_string(offset) + " is cut short (file truncated)");
}

void OsFile::writeAt(uint64_t offset, std::span<const uint8_t> data)
{
    if (!writable_) fail(kReadOnly, path_, "file is open read-only");
    if (staged_) return stage(offset, data);
    if (auto* recorder = fileEventRecorder()) recorder->writing(path_, offset, data.size());
    size_t done = 0;
    while (done < data.size()) {
        sys::Error error;
        const long long n = sys::writeAt(fd_, offset + done, data.data() + done, data.size() - done, error);
        if (n < 0) fail(path_, error);
        if (n == 0) fail(kIoError, path_, "write failed: nothing written");
        done += size_t(n);
    }
    if (auto* recorder = fileEventRecorder()) recorder->wrote(path_, offset, data);
}

void OsFile::truncate(uint64_t size)
{
    sys::Error error;
    if (!sys::truncate(fd_, size, error)) fail(path_, error);
}

void OsFile::sync()
{
    if (staged_) return;
    if (auto* recorder = fileEventRecorder()) recorder->synced(path_);
    if (!g_syncEnabled) return;
    sys::Error error;
    if (!sys::sync(fd_, error)) fail(path_, error);
}

bool OsFile::tryLockRange(uint64_t start, uint64_t length, LockKind kind)
{
    // A file this account may only read was opened read-only: say so, not
    // the "Bad file descriptor" a write lock on it would give.
    if (kind != LockKind::Shared && !writable_) fail(kReadOnly, path_, "cannot be written by this account (no write permission)");
    sys::Error error;
    switch (sys::lockRange(fd_, locks_, start, length, kind == LockKind::Exclusive, error)) {
    case sys::Lock::Taken: return true;
    case sys::Lock::Busy: return false;
    case sys::Lock::Failed: break;
    }
    fail(path_, error);
}

bool OsFile::lockRangeWithin(uint64_t start, uint64_t length, LockKind kind, int timeoutMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    auto pause = std::chrono::microseconds(50);
    while (!tryLockRange(start, length, kind)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(5000));
    }
    return true;
}

void OsFile::unlockRange(uint64_t start, uint64_t length) { sys::unlockRange(fd_, locks_, start, length); }

bool OsFile::tryFlock(LockKind kind)
{
    sys::Error error;
    switch (sys::lockWhole(fd_, locks_, path_, writable_, kind == LockKind::Exclusive, error)) {
    case sys::Lock::Taken: return true;
    case sys::Lock::Busy: return false;
    case sys::Lock::Failed: break;
    }
    fail(path_, error);
}

void syncDirectoryOf(const std::filesystem::path& path)
{
    if (!g_syncEnabled) return;
    auto dir = path.parent_path();
    if (dir.empty()) dir = ".";
    sys::syncDirectory(dir);
}

void replaceFile(const std::filesystem::path& from, const std::filesystem::path& to)
{
    sys::Error error;
    if (!sys::replace(from, to, error)) fail(kIoError, to, "cannot replace the index file: " + error.message);
}

}  // namespace xbase
