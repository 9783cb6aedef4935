#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "ftp/NetExceptions.h"
#include "ftp/connection/NetStream.h"

TNetFileStream::TNetFileStream(const std::string& path) : path_(path) {
    // Only a regular file is sent, and a symbolic link is never followed: a
    // link would let any file the program can read be uploaded, and a FIFO
    // or device could block the open or the reads for ever. The type is
    // looked at before the open (nothing else is opened at all) and again on
    // what was opened (the entry may have changed in between). O_NONBLOCK
    // keeps a FIFO from blocking the open; it changes nothing for a regular
    // file. POSIX opens never lock out other readers or writers.
    const std::string cannot = "Cannot open file " + path;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        throw EFOpenError(cannot + (S_ISLNK(st.st_mode) ? ": a symbolic link is not sent" : ": not a regular file"));
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd_ < 0) {
        if (errno == ELOOP) throw EFOpenError(cannot + ": a symbolic link is not sent");
        throw EFOpenError(cannot);
    }
    if (::fstat(int(fd_), &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(int(fd_));
        fd_ = -1;
        throw EFOpenError(cannot + ": not a regular file");
    }
#ifdef POSIX_FADV_SEQUENTIAL
    ::posix_fadvise(int(fd_), 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
}

TNetFileStream::~TNetFileStream() {
    if (fd_ >= 0) ::close(int(fd_));
}

long long TNetFileStream::Size() const {
    struct stat st {};
    if (::fstat(int(fd_), &st) != 0) throw EInOutError("Cannot read file " + path_);
    return st.st_size;
}

std::string_view TNetFileStream::Read(std::size_t count) {
    if (bufferPos_ == bufferEnd_) {
        if (buffer_.empty()) buffer_.resize(ReadAheadSize);
        bufferPos_ = bufferEnd_ = 0;
        while (true) {
            ssize_t n = ::read(int(fd_), buffer_.data(), buffer_.size());
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) throw EInOutError("Cannot read file " + path_);
            bufferEnd_ = static_cast<std::size_t>(n);
            break;
        }
    }
    std::size_t n = std::min(count, bufferEnd_ - bufferPos_);
    std::string_view out(buffer_.data() + bufferPos_, n);
    bufferPos_ += n;
    position_ += static_cast<long long>(n);
    return out;
}
