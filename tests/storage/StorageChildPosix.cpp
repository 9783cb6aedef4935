#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>

#include "StorageTestSupport.h"

// Child processes, commands and another program's locks on POSIX: fork,
// popen, fcntl.
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

int lockSeenByOthers(const std::filesystem::path& path, uint64_t offset)
{
    return inChild([&] {
        const int fd = ::open(path.c_str(), O_RDWR);
        struct flock fl {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        fl.l_start = off_t(offset);
        fl.l_len = 1;
        if (::fcntl(fd, F_GETLK, &fl) != 0) return 97;
        return fl.l_type == F_UNLCK ? 0 : 1;
    });
}

}  // namespace storage_test
