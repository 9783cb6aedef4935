#include "tests/support/FtpServers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace qz::test {

namespace {

const char* const VsftpdProgram = "/usr/sbin/vsftpd";
const char* const PythonProgram = "/usr/bin/python3";

// A small server on pyftpdlib: one user with full rights on the root folder.
// The chosen port goes to a file once the server listens.
const char* const PyftpdlibScript = R"(import logging, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer
root, user, password, port_file, log_file = sys.argv[1:6]
logging.basicConfig(filename=log_file, level=logging.DEBUG, format='%(message)s')
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, root, perm='elradfmwMT')
FTPHandler.authorizer = authorizer
server = FTPServer(('127.0.0.1', 0), FTPHandler)
with open(port_file + '.tmp', 'w') as f:
    f.write(str(server.address[1]))
import os
os.rename(port_file + '.tmp', port_file)
server.serve_forever()
)";

int FreeLoopbackPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        if (fd >= 0) ::close(fd);
        throw std::runtime_error("no free port");
    }
    ::close(fd);
    return ntohs(addr.sin_port);
}

std::string MakeTempDir(const std::string& prefix) {
    std::string pattern = (fs::temp_directory_path() / (prefix + "XXXXXX")).string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string QuotedAfter(const std::string& line, const std::string& marker) {
    std::size_t at = line.find(marker);
    if (at == std::string::npos) return {};
    std::string rest = line.substr(at + marker.size());
    if (!rest.empty() && rest.back() == '"') rest.pop_back();
    return rest;
}

}  // namespace

const char* FtpServerKindName(FtpServerKind kind) { return kind == FtpServerKind::Vsftpd ? "vsftpd" : "pyftpdlib"; }

bool FtpServerAvailable(FtpServerKind kind) {
    if (kind == FtpServerKind::Vsftpd) return ::access(VsftpdProgram, X_OK) == 0;
    if (::access(PythonProgram, X_OK) != 0) return false;
    return std::system("/usr/bin/python3 -c 'import pyftpdlib' >/dev/null 2>&1") == 0;
}

std::vector<FtpServerKind> AvailableFtpServerKinds() {
    std::vector<FtpServerKind> kinds;
    for (FtpServerKind k : {FtpServerKind::Vsftpd, FtpServerKind::Pyftpdlib})
        if (FtpServerAvailable(k)) kinds.push_back(k);
    return kinds;
}

RealFtpServer::RealFtpServer(FtpServerKind kind, std::string rootDir, int fixedPort, std::string extraConfig)
    : kind_(kind), fixedPort_(fixedPort), extraConfig_(std::move(extraConfig)), rootDir_(std::move(rootDir)) {
    if ((fixedPort_ != 0 || !extraConfig_.empty()) && kind_ != FtpServerKind::Vsftpd)
        throw std::runtime_error("a fixed port and extra configuration are offered for vsftpd only");
    workDir_ = MakeTempDir(std::string("qz-") + FtpServerKindName(kind) + "-");
    if (rootDir_.empty()) {
        rootDir_ = workDir_ + "/root";
        ownsRoot_ = true;
    }
    fs::create_directories(rootDir_);
    try {
        if (kind == FtpServerKind::Vsftpd)
            StartVsftpd();
        else
            StartPyftpdlib();
    } catch (...) {
        Stop();
        fs::remove_all(workDir_);
        throw;
    }
}

RealFtpServer::~RealFtpServer() {
    Stop();
    std::error_code ignored;
    fs::remove_all(workDir_, ignored);
}

void RealFtpServer::StartVsftpd() {
    // Anonymous login straight into the root folder. The session runs as the
    // launching user without a chroot: a chroot root must not be writable,
    // and the test's root folder has to be. "nobody" exists everywhere, the
    // "ftp" user may not.
    user_ = "anonymous";
    password_ = "qelzav@";
    ::chmod(rootDir_.c_str(), 0777);
    std::string empty = workDir_ + "/empty";
    fs::create_directories(empty);
    ::chmod(empty.c_str(), 0755);
    logPath_ = workDir_ + "/vsftpd.log";
    const int attempts = fixedPort_ != 0 ? 1 : 10;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        int port = fixedPort_ != 0 ? fixedPort_ : FreeLoopbackPort();
        std::ostringstream conf;
        conf << "listen=YES\nlisten_ipv6=NO\nbackground=NO\n"
             << "listen_address=127.0.0.1\nlisten_port=" << port << "\n"
             << "anonymous_enable=YES\nlocal_enable=NO\nno_anon_password=NO\n"
             << "write_enable=YES\nanon_upload_enable=YES\nanon_mkdir_write_enable=YES\n"
             << "anon_other_write_enable=YES\nanon_umask=022\n"
             << "anon_root=" << rootDir_ << "\nallow_writeable_chroot=YES\n"
             << "ftp_username=nobody\nnopriv_user=nobody\nsecure_chroot_dir=" << empty << "\n"
             << "pasv_enable=YES\nconnect_from_port_20=NO\n"
             << "seccomp_sandbox=NO\nisolate=NO\nisolate_network=NO\n"
             << "xferlog_enable=YES\nxferlog_std_format=NO\nlog_ftp_protocol=YES\nsyslog_enable=NO\n"
             << "vsftpd_log_file=" << logPath_ << "\n"
             << "max_clients=0\nmax_per_ip=0\ndelay_failed_login=0\n";
        conf << "run_as_launching_user=YES\n";
        if (!extraConfig_.empty()) conf << extraConfig_ << "\n";
        std::string confPath = workDir_ + "/vsftpd.conf";
        WriteFile(confPath, conf.str());
        ::chmod(confPath.c_str(), 0600);
        Spawn({VsftpdProgram, confPath});
        if (WaitForGreeting(port)) {
            port_ = port;
            return;
        }
        Stop();  // port taken by someone else in between: try another
    }
    throw std::runtime_error("vsftpd did not start; see " + workDir_);
}

void RealFtpServer::StartPyftpdlib() {
    user_ = "qeluser";
    password_ = "qelpass";
    logPath_ = workDir_ + "/pyftpdlib.log";
    std::string script = workDir_ + "/server.py";
    std::string portFile = workDir_ + "/port";
    WriteFile(script, PyftpdlibScript);
    Spawn({PythonProgram, script, rootDir_, user_, password_, portFile, logPath_});
    for (int waited = 0; waited < 20000; waited += 20) {
        std::ifstream in(portFile);
        int port = 0;
        if (in >> port && port > 0 && WaitForGreeting(port)) {
            port_ = port;
            return;
        }
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            break;
        }
        ::usleep(20000);
    }
    throw std::runtime_error("pyftpdlib did not start; see " + workDir_);
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

// True once something on the port greets with 220, while our process lives.
bool RealFtpServer::WaitForGreeting(int port) {
    for (int waited = 0; waited < 10000; waited += 20) {
        int status = 0;
        if (pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return false;
        }
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(static_cast<uint16_t>(port));
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
            pollfd pfd{fd, POLLIN, 0};
            char greeting[4] = {};
            bool ok = ::poll(&pfd, 1, 5000) > 0 && ::recv(fd, greeting, 3, MSG_WAITALL) == 3 &&
                      std::string(greeting, 3) == "220";
            ::close(fd);
            return ok;
        }
        ::close(fd);
        ::usleep(20000);
    }
    return false;
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

std::string RealFtpServer::ReadLog() const {
    std::ifstream in(logPath_, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> RealFtpServer::LoggedCommands() const {
    std::vector<std::string> commands;
    std::istringstream lines(ReadLog());
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::string command = kind_ == FtpServerKind::Vsftpd ? QuotedAfter(line, "FTP command: Client \"127.0.0.1\", \"")
                                                              : QuotedAfter(line, "<- ");
        if (!command.empty()) commands.push_back(command);
    }
    return commands;
}

}  // namespace qz::test
