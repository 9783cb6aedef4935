// OsFileSystem on POSIX: descriptors, pread/pwrite, fcntl OFD locks (they
// belong to the descriptor, not the process) and flock for the whole file.
// The system keeps the lock state, so LockState goes unused here.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "data/storage/OsFileSystem.h"

namespace xbase::OsFileSystem {
namespace {

template <typename T>
T failed(Error& error, const char* action, T result)
{
    error.failure = errno == ENOENT ? Failure::Missing : errno == EEXIST ? Failure::Exists : Failure::Other;
    error.action = action;
    error.message = std::strerror(errno);
    return result;
}

Handle openWith(const std::filesystem::path& path, int flags, const char* action, Error& error)
{
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0664);
    return fd >= 0 ? fd : failed(error, action, NoHandle);
}

}  // namespace

Handle openExisting(const std::filesystem::path& path, bool write, Error& error)
{
    return openWith(path, write ? O_RDWR : O_RDONLY, "open", error);
}

Handle create(const std::filesystem::path& path, Creation how, Error& error)
{
    return openWith(path, O_RDWR | O_CREAT | (how == Creation::New ? O_EXCL : O_TRUNC), "create", error);
}

bool isRegularFile(Handle h)
{
    struct stat st {};
    return ::fstat(int(h), &st) != 0 || S_ISREG(st.st_mode);
}

void close(Handle h) { ::close(int(h)); }

bool size(Handle h, uint64_t& size, Error& error)
{
    struct stat st {};
    if (::fstat(int(h), &st) != 0) return failed(error, "stat", false);
    size = uint64_t(st.st_size);
    return true;
}

long long readAt(Handle h, uint64_t offset, uint8_t* data, size_t size, Error& error)
{
    for (;;) {
        const ssize_t n = ::pread(int(h), data, size, off_t(offset));
        if (n >= 0) return n;
        if (errno != EINTR) return failed(error, "read", -1LL);
    }
}

long long writeAt(Handle h, uint64_t offset, const uint8_t* data, size_t size, Error& error)
{
    for (;;) {
        const ssize_t n = ::pwrite(int(h), data, size, off_t(offset));
        if (n >= 0) return n;
        if (errno != EINTR) return failed(error, "write", -1LL);
    }
}

bool truncate(Handle h, uint64_t size, Error& error)
{
    return ::ftruncate(int(h), off_t(size)) == 0 || failed(error, "truncate", false);
}

bool sync(Handle h, Error& error) { return ::fdatasync(int(h)) == 0 || failed(error, "sync", false); }

void syncDirectory(const std::filesystem::path& dir)
{
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

bool replace(const std::filesystem::path& from, const std::filesystem::path& to, Error& error)
{
    std::error_code ec;
    std::filesystem::rename(from, to, ec);
    if (!ec) return true;
    error.failure = Failure::Other;
    error.message = ec.message();
    return false;
}

Lock lockRange(Handle h, LockState&, uint64_t start, uint64_t length, bool exclusive, Error& error)
{
    struct flock fl {};
    fl.l_type = exclusive ? F_WRLCK : F_RDLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = off_t(start);
    fl.l_len = off_t(length);
    for (;;) {
        if (::fcntl(int(h), F_OFD_SETLK, &fl) == 0) return Lock::Taken;
        if (errno == EACCES || errno == EAGAIN) return Lock::Busy;
        if (errno != EINTR) return failed(error, "lock", Lock::Failed);
    }
}

void unlockRange(Handle h, LockState&, uint64_t start, uint64_t length)
{
    struct flock fl {};
    fl.l_type = F_UNLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = off_t(start);
    fl.l_len = off_t(length);
    ::fcntl(int(h), F_OFD_SETLK, &fl);
}

Lock lockWhole(Handle& h, LockState&, const std::filesystem::path&, bool, bool exclusive, Error& error)
{
    const int op = (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
    while (::flock(int(h), op) != 0) {
        if (errno == EWOULDBLOCK) return Lock::Busy;
        if (errno != EINTR) return failed(error, "flock", Lock::Failed);
    }
    return Lock::Taken;
}

}  // namespace xbase::OsFileSystem
