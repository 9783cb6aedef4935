#include "data/storage/OsFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

#include "data/storage/XbaseTable.h"
#include "rtl/Utf8Path.h"

namespace xbase {
namespace {

std::atomic<bool> g_syncEnabled{true};

[[noreturn]] void fail(int code, const std::filesystem::path& path, const std::string& what)
{
    throw XbaseError(code, Utf8FromPath(path.filename()) + ": " + what);
}

std::string sysError(const char* action)
{
    return std::string(action) + " failed: " + std::strerror(errno);
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
    int fd = -1;
    bool opened_rw = false;
    if (writable) {
        fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        opened_rw = fd >= 0;
    }
    if (fd < 0) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) fail(missingCode, path, "file not found");
        fail(kIoError, path, sysError("open"));
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && !S_ISREG(st.st_mode)) {
        ::close(fd);
        fail(kIoError, path, "not a regular file");
    }
    return OsFile(fd, path, opened_rw);
}

OsFile OsFile::createNew(const std::filesystem::path& path)
{
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0664);
    if (fd < 0) fail(kIoError, path, errno == EEXIST ? "file already exists" : sysError("create"));
    return OsFile(fd, path, true);
}

OsFile OsFile::createOrTruncate(const std::filesystem::path& path)
{
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0664);
    if (fd < 0) fail(kIoError, path, sysError("create"));
    return OsFile(fd, path, true);
}

OsFile::OsFile(OsFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), writable_(other.writable_), path_(std::move(other.path_)),
      staged_(std::move(other.staged_))
{
}

OsFile& OsFile::operator=(OsFile&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        writable_ = other.writable_;
        path_ = std::move(other.path_);
        staged_ = std::move(other.staged_);
    }
    return *this;
}

OsFile::~OsFile()
{
    if (fd_ >= 0) ::close(fd_);
}

uint64_t OsFile::size() const
{
    struct stat st {};
    if (::fstat(fd_, &st) != 0) fail(kIoError, path_, sysError("stat"));
    uint64_t size = uint64_t(st.st_size);
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
        ssize_t n = ::pread(fd_, buffer.data() + done, buffer.size() - done, off_t(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            fail(kIoError, path_, sysError("read"));
        }
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
        ssize_t n = ::pwrite(fd_, data.data() + done, data.size() - done, off_t(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            fail(kIoError, path_, sysError("write"));
        }
        done += size_t(n);
    }
    if (auto* recorder = fileEventRecorder()) recorder->wrote(path_, offset, data);
}

void OsFile::truncate(uint64_t size)
{
    if (::ftruncate(fd_, off_t(size)) != 0) fail(kIoError, path_, sysError("truncate"));
}

void OsFile::sync()
{
    if (staged_) return;
    if (auto* recorder = fileEventRecorder()) recorder->synced(path_);
    if (!g_syncEnabled) return;
    if (::fdatasync(fd_) != 0) fail(kIoError, path_, sysError("sync"));
}

bool OsFile::tryLockRange(uint64_t start, uint64_t length, LockKind kind)
{
    struct flock fl {};
    // A file this account may only read was opened read-only: say so, not
    // the "Bad file descriptor" a write lock on it would give.
    if (kind != LockKind::Shared && !writable_) fail(kReadOnly, path_, "cannot be written by this account (no write permission)");
    fl.l_type = kind == LockKind::Shared ? F_RDLCK : F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = off_t(start);
    fl.l_len = off_t(length);
    if (::fcntl(fd_, F_OFD_SETLK, &fl) == 0) return true;
    if (errno == EACCES || errno == EAGAIN) return false;
    if (errno == EINTR) return tryLockRange(start, length, kind);
    fail(kIoError, path_, sysError("lock"));
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

void OsFile::unlockRange(uint64_t start, uint64_t length)
{
    struct flock fl {};
    fl.l_type = F_UNLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = off_t(start);
    fl.l_len = off_t(length);
    ::fcntl(fd_, F_OFD_SETLK, &fl);
}

bool OsFile::tryFlock(LockKind kind)
{
    int op = (kind == LockKind::Shared ? LOCK_SH : LOCK_EX) | LOCK_NB;
    while (::flock(fd_, op) != 0) {
        if (errno == EINTR) continue;
        if (errno == EWOULDBLOCK) return false;
        fail(kIoError, path_, sysError("flock"));
    }
    return true;
}

void syncDirectoryOf(const std::filesystem::path& path)
{
    if (!g_syncEnabled) return;
    auto dir = path.parent_path();
    if (dir.empty()) dir = ".";
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

void replaceFile(const std::filesystem::path& from, const std::filesystem::path& to)
{
    std::error_code ec;
    std::filesystem::rename(from, to, ec);
    if (ec) throw XbaseError(kIoError, Utf8FromPath(to.filename()) + ": cannot replace the index file: " + ec.message());
}

}  // namespace xbase
