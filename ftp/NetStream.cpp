#include "ftp/NetStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "ftp/NetExceptions.h"

std::string_view TNetMemoryStream::Read(std::size_t count) {
    std::size_t n = std::min(count, data_.size() - pos_);
    std::string_view out(data_.data() + pos_, n);
    pos_ += n;
    return out;
}

TNetFileStream::TNetFileStream(const std::string& path) : path_(path) {
    // POSIX opens never lock out other readers or writers.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd_ >= 0 && (::fstat(fd_, &st) != 0 || S_ISDIR(st.st_mode))) {
        ::close(fd_);
        fd_ = -1;
    }
    if (fd_ < 0) throw EFOpenError("Cannot open file " + path);
#ifdef POSIX_FADV_SEQUENTIAL
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
}

TNetFileStream::~TNetFileStream() {
    if (fd_ >= 0) ::close(fd_);
}

long long TNetFileStream::Size() const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) throw EInOutError("Cannot read file " + path_);
    return st.st_size;
}

std::string_view TNetFileStream::Read(std::size_t count) {
    if (bufferPos_ == bufferEnd_) {
        if (buffer_.empty()) buffer_.resize(ReadAheadSize);
        bufferPos_ = bufferEnd_ = 0;
        while (true) {
            ssize_t n = ::read(fd_, buffer_.data(), buffer_.size());
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
