#include "upload/LoginFileAccess.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

bool RegularFileExists(const std::string& path) {
    std::error_code ec;
    const auto entry = std::filesystem::symlink_status(path, ec);
    return std::filesystem::exists(entry) && !std::filesystem::is_directory(entry);
}

LoginFileHandle OpenForReading(const std::string& path) {
    // The entry may change between the existence test and this open: a FIFO
    // swapped in would block the open (and the run, holding the folder's
    // lock) for ever. O_NONBLOCK keeps the open from waiting, O_NOFOLLOW
    // refuses a link, and only a regular file is read.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = kNotARegularFile;
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, "rb");
    if (!file) {
        const int error = errno;
        ::close(fd);
        errno = error;
    }
    return LoginFileHandle(file);
}
