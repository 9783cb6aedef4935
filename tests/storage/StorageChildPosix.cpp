#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>

#include "StorageTestSupport.h"

// Child processes and commands on POSIX: fork, popen.
namespace storage_test {

int currentProcessId() { return int(::getpid()); }

int inChild(const std::function<int()>& child)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        int rc = 99;
        try {
            rc = child();
        } catch (...) {
            rc = 98;
        }
        ::_exit(rc);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

CommandResult run(const std::string& command)
{
    CommandResult result;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return result;
    std::array<char, 4096> buffer {};
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) result.output.append(buffer.data(), n);
    int status = ::pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace storage_test
