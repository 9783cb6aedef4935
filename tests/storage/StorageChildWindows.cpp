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

CommandResult run(const std::string&)
{
    return CommandResult {};   // no Linux programs here
}

}  // namespace storage_test
