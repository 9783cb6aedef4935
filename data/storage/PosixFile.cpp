#include "data/storage/PosixFile.h"

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

namespace xbase {
namespace {

std::atomic<bool> g_syncEnabled{true};

[[noreturn]] void fail(int code, const std::filesystem::path& path, const std::string& what)
{
    throw XbaseError(code, path.filename().string() + ": " + what);
}

std::string sysError(const char* action)
{
    return std::string(action) + " failed: " + std::strerror(errno);
}

}  // namespace

void setSyncEnabled(bool enabled) { g_syncEnabled = enabled; }
bool syncEnabled() { return g_syncEnabled; }

PosixFile::PosixFile(int fd, std::filesystem::path path, bool writable)
    : fd_(fd), writable_(writable), path_(std::move(path))
{
}

PosixFile PosixFile::open(const std::filesystem::path& path, bool writable, int missingCode)
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
    return PosixFile(fd, path, opened_rw);
}

PosixFile PosixFile::createNew(const std::filesystem::path& path)
{
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0664);
    if (fd < 0) fail(kIoError, path, errno == EEXIST ? "file already exists" : sysError("create"));
    return PosixFile(fd, path, true);
}

PosixFile PosixFile::createOrTruncate(const std::filesystem::path& path)
{
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0664);
    if (fd < 0) fail(kIoError, path, sysError("create"));
    return PosixFile(fd, path, true);
}

PosixFile::PosixFile(PosixFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), writable_(other.writable_), path_(std::move(other.path_)),
      staged_(std::move(other.staged_))
{
}

PosixFile& PosixFile::operator=(PosixFile&& other) noexcept
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

PosixFile::~PosixFile()
{
    if (fd_ >= 0) ::close(fd_);
}

uint64_t PosixFile::size() const
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

size_t PosixFile::readAt(uint64_t offset, std::span<uint8_t> buffer) const
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

size_t PosixFile::readStaged(uint64_t offset, std::span<uint8_t> buffer, size_t fromFile) const
{
    size_t result = fromFile;
    const uint64_t end = offset + buffer.size();
    auto it = staged_->upper_bound(offset);
    if (it != staged_->begin()) --it;
    for (; it != staged_->end() && it->first < end; ++it) {
        const uint64_t from = std::max(offset, it->first);
        const uint64_t to = std::min(end, it->first + it->second.size());
        if (from >= to) continue;
        // Bytes between the file's end and a staged extent read as zeros.
        if (from - offset > result) std::fill(buffer.begin() + std::ptrdiff_t(result), buffer.begin() + std::ptrdiff_t(from - offset), uint8_t(0));
        std::copy(it->second.begin() + std::ptrdiff_t(from - it->first), it->second.begin() + std::ptrdiff_t(to - it->first),
                  buffer.begin() + std::ptrdiff_t(from - offset));
        result = std::max(result, size_t(to - offset));
    }
    return result;
}

void PosixFile::startStaging() { staged_ = std::make_unique<Extents>(); }

PosixFile::Extents PosixFile::takeStaged()
{
    Extents taken = staged_ ? std::move(*staged_) : Extents {};
    staged_.reset();
    return taken;
}

void PosixFile::stage(uint64_t offset, std::span<const uint8_t> data)
{
    if (data.empty()) return;
    Extents& x = *staged_;
    uint64_t start = offset, end = offset + data.size();
    auto it = x.find(offset);
    if (it != x.end() && it->second.size() == data.size()) {
        std::copy(data.begin(), data.end(), it->second.begin());   // the same page again
        return;
    }
    // Merged with every extent it overlaps.
    it = x.upper_bound(offset);
    if (it != x.begin() && std::prev(it)->first + std::prev(it)->second.size() > offset) --it;
    auto last = it;
    for (; last != x.end() && last->first < end; ++last) {
        start = std::min(start, last->first);
        end = std::max(end, last->first + last->second.size());
    }
    std::vector<uint8_t> merged(end - start);
    for (auto k = it; k != last; ++k) std::copy(k->second.begin(), k->second.end(), merged.begin() + std::ptrdiff_t(k->first - start));
    std::copy(data.begin(), data.end(), merged.begin() + std::ptrdiff_t(offset - start));
    x.erase(it, last);
    x.emplace(start, std::move(merged));
}

void PosixFile::readExact(uint64_t offset, std::span<uint8_t> buffer, int shortCode, const std::string& what) const
{
    if (readAt(offset, buffer) != buffer.size())
        fail(shortCode, path_, what + " at offset " + std::to_string(offset) + " is cut short (file truncated)");
}

void PosixFile::writeAt(uint64_t offset, std::span<const uint8_t> data)
{
    if (!writable_) fail(kReadOnly, path_, "file is open read-only");
    if (staged_) return stage(offset, data);
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::pwrite(fd_, data.data() + done, data.size() - done, off_t(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            fail(kIoError, path_, sysError("write"));
        }
        done += size_t(n);
    }
}

void PosixFile::truncate(uint64_t size)
{
    if (::ftruncate(fd_, off_t(size)) != 0) fail(kIoError, path_, sysError("truncate"));
}

void PosixFile::sync()
{
    if (!g_syncEnabled || staged_) return;
    if (::fdatasync(fd_) != 0) fail(kIoError, path_, sysError("sync"));
}

bool PosixFile::tryLockRange(uint64_t start, uint64_t length, LockKind kind)
{
    struct flock fl {};
    fl.l_type = kind == LockKind::Shared ? F_RDLCK : F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = off_t(start);
    fl.l_len = off_t(length);
    if (::fcntl(fd_, F_OFD_SETLK, &fl) == 0) return true;
    if (errno == EACCES || errno == EAGAIN) return false;
    if (errno == EINTR) return tryLockRange(start, length, kind);
    fail(kIoError, path_, sysError("lock"));
}

bool PosixFile::lockRangeWithin(uint64_t start, uint64_t length, LockKind kind, int timeoutMs)
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

void PosixFile::unlockRange(uint64_t start, uint64_t length)
{
    struct flock fl {};
    fl.l_type = F_UNLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = off_t(start);
    fl.l_len = off_t(length);
    ::fcntl(fd_, F_OFD_SETLK, &fl);
}

bool PosixFile::tryFlock(LockKind kind)
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

}  // namespace xbase
