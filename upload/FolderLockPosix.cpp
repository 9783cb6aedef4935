// The folder lock on POSIX: flock() on the lock file. The lock belongs to
// the open file, so a second open in the same process is refused too, and
// the kernel drops it when the last descriptor closes or the process dies.
#include "upload/FolderLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

TFolderLock::TFolderLock(const std::string& programFolder) {
    const std::string path = FolderLockPath(programFolder);
    // Read-only is enough for flock(), so a lock file made by another user
    // (a scheduled run as root beside the desk's window) still serves.
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0664);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) throw EFolderLockError("Cannot open file " + path + ": " + std::strerror(errno));
    int result;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result == 0) {
        handle_ = fd;
        return;
    }
    const int error = errno;
    ::close(fd);
    if (error != EWOULDBLOCK) throw EFolderLockError("Cannot lock file " + path + ": " + std::strerror(error));
}

TFolderLock::~TFolderLock() {
    if (Held()) ::close(static_cast<int>(handle_));
}
