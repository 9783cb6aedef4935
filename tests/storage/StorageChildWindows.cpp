#include <windows.h>

#include <thread>

#include "StorageTestSupport.h"

// Windows has no fork. A child runs on a thread of its own instead: the
// tables it opens have handles of their own, and share modes and
// LockFileEx locks belong to handles, so they meet the parent's exactly as
// another process's would. Tests that need a killed process or a Linux
// program (popen) are left out of the Windows run (tests/storage/CMakeLists.txt).
namespace storage_test {

int currentProcessId() { return int(::GetCurrentProcessId()); }

int inChild(const std::function<int()>& child)
{
    int rc = 99;
    std::thread([&] {
        try {
            rc = child();
        } catch (...) {
            rc = 98;
        }
    }).join();
    return rc;
}

int lockSeenByOthers(const std::filesystem::path& path, uint64_t offset)
{
    const HANDLE other = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                       nullptr);
    if (other == INVALID_HANDLE_VALUE) return 97;
    OVERLAPPED o {};
    o.Offset = DWORD(offset);
    o.OffsetHigh = DWORD(offset >> 32);
    const bool had = ::LockFileEx(other, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &o);
    if (had) {
        OVERLAPPED u = o;
        ::UnlockFileEx(other, 0, 1, 0, &u);
    }
    ::CloseHandle(other);
    return had ? 0 : 1;
}

CommandResult run(const std::string&)
{
    return CommandResult {};   // no Linux programs here
}

}  // namespace storage_test
