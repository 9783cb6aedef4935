#pragma once
// The system calls under OsFile, and nothing else: OsFilePosix.cpp (open,
// pread, fcntl OFD locks, flock) and OsFileWindows.cpp (CreateFileW share
// modes, LockFileEx). Nothing here raises: failures come back in an Error
// that OsFile.cpp turns into XbaseError.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace xbase::OsFileSystem {

// A POSIX descriptor, or a Windows HANDLE (INVALID_HANDLE_VALUE is -1).
using Handle = std::intptr_t;
constexpr Handle NoHandle = -1;

enum class Failure { None, Missing, Exists, InUse, Other };
struct Error {
    Failure failure = Failure::None;
    const char* action = "";   // "open", "read", ...
    std::string message;       // the system's words
};

// Opened sharing the file with other handles; NoHandle on failure.
Handle openExisting(const std::filesystem::path& path, bool write, Error& error);
enum class Creation { New, Truncate };
Handle create(const std::filesystem::path& path, Creation how, Error& error);
bool isRegularFile(Handle h);
void close(Handle h);

bool size(Handle h, uint64_t& size, Error& error);
// Bytes moved by one call (0: end of file, or nothing written), -1 on error.
long long readAt(Handle h, uint64_t offset, uint8_t* data, size_t size, Error& error);
long long writeAt(Handle h, uint64_t offset, const uint8_t* data, size_t size, Error& error);
bool truncate(Handle h, uint64_t size, Error& error);
bool sync(Handle h, Error& error);
void syncDirectory(const std::filesystem::path& dir);
bool replace(const std::filesystem::path& from, const std::filesystem::path& to, Error& error);

// What a handle holds, kept where the system does not keep it (Windows):
// whether it was opened without sharing, the byte ranges it locked.
struct LockState {
    bool unshared = false;
    std::vector<std::pair<uint64_t, bool /*exclusive*/>> ranges;
};
enum class Lock { Taken, Busy, Failed };
// Takes a range, or changes the kind of one held at `start`, the way POSIX
// does: one lock state per byte and handle.
Lock lockRange(Handle h, LockState& state, uint64_t start, uint64_t length, bool exclusive, Error& error);
void unlockRange(Handle h, LockState& state, uint64_t start, uint64_t length);
// The lock on the whole file (flock, or a share mode: then the file is
// opened again, into `h`).
Lock lockWhole(Handle& h, LockState& state, const std::filesystem::path& path, bool writable, bool exclusive,
               Error& error);

}  // namespace xbase::OsFileSystem
