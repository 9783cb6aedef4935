#include "data/storage/OsFile.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <utility>

#include "data/storage/XbaseTable.h"
#include "rtl/Utf8Path.h"
#include "rtl/WindowsText.h"

// Windows: share modes stand in for flock (an exclusive open is a handle
// opened without sharing, which is what xBase programs on Windows do), and
// byte-range locks are LockFileEx locks at the same offsets as on POSIX.
// LockFileEx locks belong to the handle, like the OFD locks on POSIX.
namespace xbase {
namespace {

std::atomic<bool> g_syncEnabled{true};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

[[noreturn]] void fail(int code, const std::filesystem::path& path, const std::string& what)
{
    throw XbaseError(code, Utf8FromPath(path.filename()) + ": " + what);
}

std::string sysError(const char* action, DWORD error = ::GetLastError())
{
    return std::string(action) + " failed: " + qz::win::SystemMessage(error);
}

HANDLE asHandle(std::intptr_t fd) { return reinterpret_cast<HANDLE>(fd); }

std::intptr_t openHandle(const std::filesystem::path& path, DWORD access, DWORD share, DWORD disposition)
{
    HANDLE h = ::CreateFileW(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    return reinterpret_cast<std::intptr_t>(h);
}

OVERLAPPED at(uint64_t offset)
{
    OVERLAPPED o {};
    o.Offset = DWORD(offset & 0xFFFFFFFFu);
    o.OffsetHigh = DWORD(offset >> 32);
    return o;
}

DWORD accessFor(bool writable) { return writable ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ; }

}  // namespace

void setSyncEnabled(bool enabled) { g_syncEnabled = enabled; }
bool syncEnabled() { return g_syncEnabled; }

OsFile::OsFile(std::intptr_t fd, std::filesystem::path path, bool writable)
    : fd_(fd), writable_(writable), path_(std::move(path))
{
}

OsFile OsFile::open(const std::filesystem::path& path, bool writable, int missingCode)
{
    std::intptr_t fd = -1;
    bool opened_rw = false;
    DWORD error = ERROR_SUCCESS;
    if (writable) {
        fd = openHandle(path, accessFor(true), kShareAll, OPEN_EXISTING);
        opened_rw = fd != -1;
        if (!opened_rw) error = ::GetLastError();
    }
    if (fd == -1 && error != ERROR_SHARING_VIOLATION) {
        fd = openHandle(path, accessFor(false), kShareAll, OPEN_EXISTING);
        if (fd == -1) error = ::GetLastError();
    }
    if (fd == -1) {
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) fail(missingCode, path, "file not found");
        // Another program opened it without sharing: an exclusive open.
        if (error == ERROR_SHARING_VIOLATION) fail(kFileInUse, path, "file is open exclusively in another process");
        fail(kIoError, path, sysError("open", error));
    }
    if (::GetFileType(asHandle(fd)) != FILE_TYPE_DISK) {
        ::CloseHandle(asHandle(fd));
        fail(kIoError, path, "not a regular file");
    }
    BY_HANDLE_FILE_INFORMATION info {};
    if (::GetFileInformationByHandle(asHandle(fd), &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ::CloseHandle(asHandle(fd));
        fail(kIoError, path, "not a regular file");
    }
    return OsFile(fd, path, opened_rw);
}

OsFile OsFile::createNew(const std::filesystem::path& path)
{
    std::intptr_t fd = openHandle(path, accessFor(true), kShareAll, CREATE_NEW);
    if (fd == -1) {
        const DWORD error = ::GetLastError();
        fail(kIoError, path, error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? "file already exists" : sysError("create", error));
    }
    return OsFile(fd, path, true);
}

OsFile OsFile::createOrTruncate(const std::filesystem::path& path)
{
    std::intptr_t fd = openHandle(path, accessFor(true), kShareAll, CREATE_ALWAYS);
    if (fd == -1) fail(kIoError, path, sysError("create"));
    return OsFile(fd, path, true);
}

OsFile::OsFile(OsFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      writable_(other.writable_),
      path_(std::move(other.path_)),
      staged_(std::move(other.staged_)),
      unshared_(other.unshared_),
      heldRanges_(std::move(other.heldRanges_))
{
}

OsFile& OsFile::operator=(OsFile&& other) noexcept
{
    if (this != &other) {
        if (fd_ != -1) ::CloseHandle(asHandle(fd_));
        fd_ = std::exchange(other.fd_, -1);
        writable_ = other.writable_;
        path_ = std::move(other.path_);
        staged_ = std::move(other.staged_);
        unshared_ = other.unshared_;
        heldRanges_ = std::move(other.heldRanges_);
    }
    return *this;
}

OsFile::~OsFile()
{
    if (fd_ != -1) ::CloseHandle(asHandle(fd_));
}

uint64_t OsFile::size() const
{
    LARGE_INTEGER size {};
    if (!::GetFileSizeEx(asHandle(fd_), &size)) fail(kIoError, path_, sysError("stat"));
    uint64_t bytes = uint64_t(size.QuadPart);
    if (staged_ && !staged_->empty()) {
        const auto& [offset, extent] = *staged_->rbegin();
        bytes = std::max(bytes, offset + extent.size());
    }
    return bytes;
}

size_t OsFile::readAt(uint64_t offset, std::span<uint8_t> buffer) const
{
    size_t done = 0;
    while (done < buffer.size()) {
        OVERLAPPED o = at(offset + done);
        const DWORD want = DWORD(std::min<size_t>(buffer.size() - done, 1u << 30));
        DWORD got = 0;
        if (!::ReadFile(asHandle(fd_), buffer.data() + done, want, &got, &o)) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_HANDLE_EOF) break;
            fail(kIoError, path_, sysError("read", error));
        }
        if (got == 0) break;
        done += got;
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
        OVERLAPPED o = at(offset + done);
        const DWORD want = DWORD(std::min<size_t>(data.size() - done, 1u << 30));
        DWORD put = 0;
        if (!::WriteFile(asHandle(fd_), data.data() + done, want, &put, &o)) fail(kIoError, path_, sysError("write"));
        if (put == 0) fail(kIoError, path_, "write failed: nothing written");
        done += put;
    }
    if (auto* recorder = fileEventRecorder()) recorder->wrote(path_, offset, data);
}

void OsFile::truncate(uint64_t size)
{
    FILE_END_OF_FILE_INFO end {};
    end.EndOfFile.QuadPart = LONGLONG(size);
    if (!::SetFileInformationByHandle(asHandle(fd_), FileEndOfFileInfo, &end, sizeof end))
        fail(kIoError, path_, sysError("truncate"));
}

void OsFile::sync()
{
    if (staged_) return;
    if (auto* recorder = fileEventRecorder()) recorder->synced(path_);
    if (!g_syncEnabled) return;
    if (!::FlushFileBuffers(asHandle(fd_))) fail(kIoError, path_, sysError("sync"));
}

// POSIX keeps one lock state per byte and handle: locking a range again
// changes its kind, unlocking drops it whatever was taken before. LockFileEx
// stacks locks instead, so the ranges held are counted here to give the
// engine the same behaviour on both systems.
bool OsFile::tryLockRange(uint64_t start, uint64_t length, LockKind kind)
{
    auto held = std::find_if(heldRanges_.begin(), heldRanges_.end(), [&](const auto& r) { return r.first == start; });
    if (held != heldRanges_.end() && held->second == kind) return true;
    HANDLE h = asHandle(fd_);
    OVERLAPPED o = at(start);
    const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (kind == LockKind::Exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    const DWORD low = DWORD(length & 0xFFFFFFFFu), high = DWORD(length >> 32);
    if (held != heldRanges_.end()) {
        if (kind == LockKind::Shared) {
            // Exclusive to shared: a shared lock over one's own exclusive
            // lock is allowed; the first unlock then drops the exclusive one.
            if (!::LockFileEx(h, flags, 0, low, high, &o)) fail(kIoError, path_, sysError("lock"));
            OVERLAPPED u = at(start);
            ::UnlockFileEx(h, 0, low, high, &u);
            held->second = kind;
            return true;
        }
        // Shared to exclusive: let go, then try; take the shared lock back
        // when another handle holds it too.
        OVERLAPPED u = at(start);
        ::UnlockFileEx(h, 0, low, high, &u);
        if (::LockFileEx(h, flags, 0, low, high, &o)) {
            held->second = kind;
            return true;
        }
        OVERLAPPED back = at(start);
        if (!::LockFileEx(h, LOCKFILE_FAIL_IMMEDIATELY, 0, low, high, &back)) heldRanges_.erase(held);
        return false;
    }
    if (::LockFileEx(h, flags, 0, low, high, &o)) {
        heldRanges_.emplace_back(start, kind);
        return true;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) return false;
    fail(kIoError, path_, sysError("lock", error));
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
    auto held = std::find_if(heldRanges_.begin(), heldRanges_.end(), [&](const auto& r) { return r.first == start; });
    if (held == heldRanges_.end()) return;
    heldRanges_.erase(held);
    OVERLAPPED o = at(start);
    ::UnlockFileEx(asHandle(fd_), 0, DWORD(length & 0xFFFFFFFFu), DWORD(length >> 32), &o);
}

// The share mode is part of the handle: changing it opens the file again
// (no byte-range locks are held at these points: they come after the open).
bool OsFile::tryFlock(LockKind kind)
{
    const bool wantUnshared = kind == LockKind::Exclusive;
    if (wantUnshared == unshared_) return true;
    const DWORD access = accessFor(writable_);
    ::CloseHandle(asHandle(std::exchange(fd_, -1)));
    heldRanges_.clear();
    if (wantUnshared) {
        fd_ = openHandle(path_, access, 0, OPEN_EXISTING);
        if (fd_ != -1) {
            unshared_ = true;
            return true;
        }
        if (::GetLastError() != ERROR_SHARING_VIOLATION) fail(kIoError, path_, sysError("open"));
    }
    fd_ = openHandle(path_, access, kShareAll, OPEN_EXISTING);
    if (fd_ == -1) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_SHARING_VIOLATION) fail(kFileInUse, path_, "file is open exclusively in another process");
        fail(kIoError, path_, sysError("open", error));
    }
    unshared_ = false;
    return !wantUnshared;
}

void syncDirectoryOf(const std::filesystem::path& path)
{
    if (!g_syncEnabled) return;
    // NTFS journals its directories; flushing the folder's handle is asked
    // for where the file system allows it, and its refusal is harmless.
    auto dir = path.parent_path();
    if (dir.empty()) dir = ".";
    HANDLE h = ::CreateFileW(dir.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    ::FlushFileBuffers(h);
    ::CloseHandle(h);
}

void replaceFile(const std::filesystem::path& from, const std::filesystem::path& to)
{
    if (!::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        fail(kIoError, to, "cannot replace the index file: " + qz::win::SystemMessage(::GetLastError()));
}

}  // namespace xbase
