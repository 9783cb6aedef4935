#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "tests/support/FtpServers.h"
#include "tests/support/FtpServersSystem.h"

namespace fs = std::filesystem;

namespace qz::test {

std::string MakeTempDir(const std::string& prefix) {
    std::string pattern = (fs::temp_directory_path() / (prefix + "XXXXXX")).string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

void SetMode(const std::string& path, int mode) { ::chmod(path.c_str(), mode_t(mode)); }

std::string ServerPath(const std::string& path) { return path; }

bool FtpServerAvailable(FtpServerKind kind) {
    if (kind == FtpServerKind::Vsftpd) return ::access(VsftpdProgram, X_OK) == 0;
    if (kind == FtpServerKind::Proftpd) return ::access(ProftpdProgram, X_OK) == 0;
    if (kind == FtpServerKind::PureFtpd) return ::access(PureFtpdProgram, X_OK) == 0 && ::access(PurePwProgram, X_OK) == 0;
    if (::access(PythonProgram, X_OK) != 0) return false;
    return std::system("/usr/bin/python3 -c 'import pyftpdlib' >/dev/null 2>&1") == 0;
}

bool RealFtpServer::ServerRunning() {
    int status = 0;
    if (pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_) pid_ = -1;
    return pid_ > 0;
}

void RealFtpServer::Spawn(const std::vector<std::string>& argv) {
    std::string out = workDir_ + "/server.out";
    pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::setpgid(0, 0);
        int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (fd >= 0) {
            ::dup2(fd, 1);
            ::dup2(fd, 2);
        }
        int null = ::open("/dev/null", O_RDONLY);
        if (null >= 0) ::dup2(null, 0);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::setpgid(pid, pid);
    pid_ = pid;
}

void RealFtpServer::Stop() {
    if (pid_ <= 0) return;
    ::kill(-pid_, SIGTERM);
    int status = 0;
    for (int waited = 0; waited < 3000; waited += 10) {
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            ::kill(-pid_, SIGKILL);  // session children, if any are left
            pid_ = -1;
            return;
        }
        ::usleep(10000);
    }
    ::kill(-pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

}  // namespace qz::test
