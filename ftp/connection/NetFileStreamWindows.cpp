#include <windows.h>

#include <algorithm>

#include "ftp/NetExceptions.h"
#include "ftp/connection/NetStream.h"
#include "rtl/WindowsText.h"

// The upload's file on Windows (NetFileStreamPosix.cpp is the POSIX one):
// opened with full sharing, so the PMS may go on writing or renaming beside
// the upload, as it may on POSIX. The path is UTF-8.
namespace {

HANDLE AsHandle(std::intptr_t fd) { return reinterpret_cast<HANDLE>(fd); }

}  // namespace

TNetFileStream::TNetFileStream(const std::string& path) : path_(path) {
    // As on POSIX: only a regular file is sent and a link is never followed
    // (a reparse point: symbolic link, junction, placeholder); the kind is
    // looked at before the open and again on what was opened.
    const std::string cannot = "Cannot open file " + path;
    const std::wstring wide = qz::win::WideFromUtf8(path);
    const DWORD before = ::GetFileAttributesW(wide.c_str());
    if (before != INVALID_FILE_ATTRIBUTES) {
        if (before & FILE_ATTRIBUTE_REPARSE_POINT) throw EFOpenError(cannot + ": a symbolic link is not sent");
        if (before & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) throw EFOpenError(cannot + ": not a regular file");
    }
    HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT,
                             nullptr);
    if (h == INVALID_HANDLE_VALUE) throw EFOpenError(cannot);
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = ::GetFileInformationByHandle(h, &info) != 0;
    const DWORD attributes = known ? info.dwFileAttributes : 0;
    if (!known || ::GetFileType(h) != FILE_TYPE_DISK ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_REPARSE_POINT))) {
        ::CloseHandle(h);
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) throw EFOpenError(cannot + ": a symbolic link is not sent");
        throw EFOpenError(cannot + ": not a regular file");
    }
    fd_ = reinterpret_cast<std::intptr_t>(h);
}

TNetFileStream::~TNetFileStream() {
    if (fd_ != -1) ::CloseHandle(AsHandle(fd_));
}

long long TNetFileStream::Size() const {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(AsHandle(fd_), &size)) throw EInOutError("Cannot read file " + path_);
    return size.QuadPart;
}

std::string_view TNetFileStream::Read(std::size_t count) {
    if (bufferPos_ == bufferEnd_) {
        if (buffer_.empty()) buffer_.resize(ReadAheadSize);
        bufferPos_ = bufferEnd_ = 0;
        DWORD got = 0;
        if (!::ReadFile(AsHandle(fd_), buffer_.data(), DWORD(buffer_.size()), &got, nullptr))
            throw EInOutError("Cannot read file " + path_);
        bufferEnd_ = got;
    }
    std::size_t n = std::min(count, bufferEnd_ - bufferPos_);
    std::string_view out(buffer_.data() + bufferPos_, n);
    bufferPos_ += n;
    position_ += static_cast<long long>(n);
    return out;
}
