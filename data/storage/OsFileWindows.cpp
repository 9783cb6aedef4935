// OsFileSystem on Windows: share modes stand in for flock (an exclusive
// open is a handle opened without sharing, which is what xBase programs on
// Windows do), and byte-range locks are LockFileEx locks at the same offsets
// as on POSIX. LockFileEx locks belong to the handle, like the OFD locks on
// POSIX.
#include <windows.h>

#include <algorithm>
#include <utility>

#include "data/storage/OsFileSystem.h"
#include "rtl/LongPath.h"
#include "rtl/WindowsText.h"

namespace xbase::OsFileSystem {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

template <typename T>
T failed(Error& error, const char* action, T result, DWORD code = ::GetLastError())
{
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: error.failure = Failure::Missing; break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: error.failure = Failure::Exists; break;
    case ERROR_SHARING_VIOLATION: error.failure = Failure::InUse; break;
    default: error.failure = Failure::Other;
    }
    error.action = action;
    error.message = qz::win::SystemMessage(code);
    return result;
}

HANDLE asHandle(Handle h) { return reinterpret_cast<HANDLE>(h); }

Handle openHandle(const std::filesystem::path& path, bool write, DWORD share, DWORD disposition)
{
    const DWORD access = write ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
    HANDLE h = ::CreateFileW(LongPathForm(path).c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    return reinterpret_cast<Handle>(h);
}

OVERLAPPED at(uint64_t offset)
{
    OVERLAPPED o {};
    o.Offset = DWORD(offset & 0xFFFFFFFFu);
    o.OffsetHigh = DWORD(offset >> 32);
    return o;
}

DWORD chunk(size_t size) { return DWORD(std::min<size_t>(size, 1u << 30)); }

}  // namespace

Handle openExisting(const std::filesystem::path& path, bool write, Error& error)
{
    const Handle h = openHandle(path, write, kShareAll, OPEN_EXISTING);
    return h != NoHandle ? h : failed(error, "open", NoHandle);
}

Handle create(const std::filesystem::path& path, Creation how, Error& error)
{
    const Handle h = openHandle(path, true, kShareAll, how == Creation::New ? CREATE_NEW : CREATE_ALWAYS);
    return h != NoHandle ? h : failed(error, "create", NoHandle);
}

bool isRegularFile(Handle h)
{
    if (::GetFileType(asHandle(h)) != FILE_TYPE_DISK) return false;
    BY_HANDLE_FILE_INFORMATION info {};
    return !::GetFileInformationByHandle(asHandle(h), &info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

void close(Handle h) { ::CloseHandle(asHandle(h)); }

bool size(Handle h, uint64_t& size, Error& error)
{
    LARGE_INTEGER bytes {};
    if (!::GetFileSizeEx(asHandle(h), &bytes)) return failed(error, "stat", false);
    size = uint64_t(bytes.QuadPart);
    return true;
}

long long readAt(Handle h, uint64_t offset, uint8_t* data, size_t size, Error& error)
{
    OVERLAPPED o = at(offset);
    DWORD got = 0;
    if (::ReadFile(asHandle(h), data, chunk(size), &got, &o)) return got;
    const DWORD code = ::GetLastError();
    return code == ERROR_HANDLE_EOF ? 0 : failed(error, "read", -1LL, code);
}

long long writeAt(Handle h, uint64_t offset, const uint8_t* data, size_t size, Error& error)
{
    OVERLAPPED o = at(offset);
    DWORD put = 0;
    if (::WriteFile(asHandle(h), data, chunk(size), &put, &o)) return put;
    return failed(error, "write", -1LL);
}

bool truncate(Handle h, uint64_t size, Error& error)
{
    FILE_END_OF_FILE_INFO end {};
    end.EndOfFile.QuadPart = LONGLONG(size);
    return ::SetFileInformationByHandle(asHandle(h), FileEndOfFileInfo, &end, sizeof end) || failed(error, "truncate", false);
}

bool sync(Handle h, Error& error) { return ::FlushFileBuffers(asHandle(h)) || failed(error, "sync", false); }

void syncDirectory(const std::filesystem::path& dir)
{
    // NTFS journals its directories; flushing the folder's handle is asked
    // for where the file system allows it, and its refusal is harmless.
    HANDLE h = ::CreateFileW(LongPathForm(dir).c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    ::FlushFileBuffers(h);
    ::CloseHandle(h);
}

bool replace(const std::filesystem::path& from, const std::filesystem::path& to, Error& error)
{
    return ::MoveFileExW(LongPathForm(from).c_str(), LongPathForm(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
           || failed(error, "replace", false);
}

// POSIX keeps one lock state per byte and handle: locking a range again
// changes its kind, unlocking drops it whatever was taken before. LockFileEx
// stacks locks instead, so the ranges held are counted here to give the
// engine the same behaviour on both systems.
Lock lockRange(Handle fd, LockState& state, uint64_t start, uint64_t length, bool exclusive, Error& error)
{
    auto& ranges = state.ranges;
    auto held = std::find_if(ranges.begin(), ranges.end(), [&](const auto& r) { return r.first == start; });
    if (held != ranges.end() && held->second == exclusive) return Lock::Taken;
    HANDLE h = asHandle(fd);
    OVERLAPPED o = at(start);
    const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    const DWORD low = DWORD(length & 0xFFFFFFFFu), high = DWORD(length >> 32);
    if (held != ranges.end()) {
        if (!exclusive) {
            // Exclusive to shared: a shared lock over one's own exclusive
            // lock is allowed; the first unlock then drops the exclusive one.
            if (!::LockFileEx(h, flags, 0, low, high, &o)) return failed(error, "lock", Lock::Failed);
            OVERLAPPED u = at(start);
            ::UnlockFileEx(h, 0, low, high, &u);
            held->second = exclusive;
            return Lock::Taken;
        }
        // Shared to exclusive: let go, then try; take the shared lock back
        // when another handle holds it too.
        OVERLAPPED u = at(start);
        ::UnlockFileEx(h, 0, low, high, &u);
        if (::LockFileEx(h, flags, 0, low, high, &o)) {
            held->second = exclusive;
            return Lock::Taken;
        }
        OVERLAPPED back = at(start);
        if (!::LockFileEx(h, LOCKFILE_FAIL_IMMEDIATELY, 0, low, high, &back)) ranges.erase(held);
        return Lock::Busy;
    }
    if (::LockFileEx(h, flags, 0, low, high, &o)) {
        ranges.emplace_back(start, exclusive);
        return Lock::Taken;
    }
    const DWORD code = ::GetLastError();
    if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) return Lock::Busy;
    return failed(error, "lock", Lock::Failed, code);
}

void unlockRange(Handle fd, LockState& state, uint64_t start, uint64_t length)
{
    auto& ranges = state.ranges;
    auto held = std::find_if(ranges.begin(), ranges.end(), [&](const auto& r) { return r.first == start; });
    if (held == ranges.end()) return;
    ranges.erase(held);
    OVERLAPPED o = at(start);
    ::UnlockFileEx(asHandle(fd), 0, DWORD(length & 0xFFFFFFFFu), DWORD(length >> 32), &o);
}

// The share mode is part of the handle: changing it opens the file again
// (no byte-range locks are held at these points: they come after the open).
Lock lockWhole(Handle& h, LockState& state, const std::filesystem::path& path, bool writable, bool exclusive,
               Error& error)
{
    if (exclusive == state.unshared) return Lock::Taken;
    ::CloseHandle(asHandle(std::exchange(h, NoHandle)));
    state.ranges.clear();
    if (exclusive) {
        h = openHandle(path, writable, 0, OPEN_EXISTING);
        if (h != NoHandle) {
            state.unshared = true;
            return Lock::Taken;
        }
        const DWORD code = ::GetLastError();
        if (code != ERROR_SHARING_VIOLATION) return failed(error, "open", Lock::Failed, code);
    }
    h = openHandle(path, writable, kShareAll, OPEN_EXISTING);
    if (h == NoHandle) return failed(error, "open", Lock::Failed);
    state.unshared = false;
    return exclusive ? Lock::Busy : Lock::Taken;
}

}  // namespace xbase::OsFileSystem
