// The folder lock on POSIX: an open-file-description lock (F_OFD_SETLK) on
// the first byte of the lock file. It is the byte-range kind Wine turns
// LockFileEx into, and Samba turns Windows clients' locks into, so a Linux
// run and a Windows run on one folder see one lock. Like flock() it belongs
// to the open file, so a second open in the same process is refused too, and
// the kernel drops it when the descriptor closes or the process dies.
#include "upload/FolderLock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

TFolderLock::TFolderLock(const std::string& programFolder) {
    const std::string path = FolderLockPath(programFolder);
    // An exclusive byte-range lock needs write access to the file (not to
    // the folder): `qeladmin init` makes the file with the tables, so a
    // folder where only those files are writable still serves.
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0664);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) throw EFolderLockError("Cannot open file " + path + ": " + std::strerror(errno));
    struct flock range {};
    range.l_type = F_WRLCK;
    range.l_whence = SEEK_SET;
    range.l_start = 0;
    range.l_len = 1;
    int result;
    do {
        result = ::fcntl(fd, F_OFD_SETLK, &range);
    } while (result != 0 && errno == EINTR);
    if (result == 0) {
        handle_ = fd;
        return;
    }
    const int error = errno;
    ::close(fd);
    if (error != EAGAIN && error != EACCES) throw EFolderLockError("Cannot lock file " + path + ": " + std::strerror(error));
}

TFolderLock::~TFolderLock() {
    if (Held()) ::close(static_cast<int>(handle_));
}
