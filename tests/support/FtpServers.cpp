#include "tests/support/FtpServers.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tests/support/FtpServersSystem.h"
#include "tests/support/LoopbackSockets.h"

namespace fs = std::filesystem;

namespace qz::test {

const char* const VsftpdProgram = "/usr/sbin/vsftpd";
const char* const PythonProgram = "/usr/bin/python3";

namespace {

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
    SetMode(rootDir_, 0777);
    std::string empty = workDir_ + "/empty";
    fs::create_directories(empty);
    SetMode(empty, 0755);
    logPath_ = workDir_ + "/vsftpd.log";
    const int attempts = fixedPort_ != 0 ? 1 : 10;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        int port = fixedPort_ != 0 ? fixedPort_ : loopback::FreePort();
        std::ostringstream conf;
        conf << "listen=YES\nlisten_ipv6=NO\nbackground=NO\n"
             << "listen_address=127.0.0.1\nlisten_port=" << port << "\n"
             << "anonymous_enable=YES\nlocal_enable=NO\nno_anon_password=NO\n"
             << "write_enable=YES\nanon_upload_enable=YES\nanon_mkdir_write_enable=YES\n"
             << "anon_other_write_enable=YES\nanon_umask=022\n"
             << "anon_root=" << ServerPath(rootDir_) << "\nallow_writeable_chroot=YES\n"
             << "ftp_username=nobody\nnopriv_user=nobody\nsecure_chroot_dir=" << ServerPath(empty) << "\n"
             << "pasv_enable=YES\nconnect_from_port_20=NO\n"
             << "seccomp_sandbox=NO\nisolate=NO\nisolate_network=NO\n"
             << "xferlog_enable=YES\nxferlog_std_format=NO\nlog_ftp_protocol=YES\nsyslog_enable=NO\n"
             << "vsftpd_log_file=" << ServerPath(logPath_) << "\n"
             << "max_clients=0\nmax_per_ip=0\ndelay_failed_login=0\n";
        conf << "run_as_launching_user=YES\n";
        if (!extraConfig_.empty()) conf << extraConfig_ << "\n";
        std::string confPath = workDir_ + "/vsftpd.conf";
        WriteFile(confPath, conf.str());
        SetMode(confPath, 0600);
        Spawn({VsftpdProgram, ServerPath(confPath)});
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
    Spawn({PythonProgram, ServerPath(script), ServerPath(rootDir_), user_, password_, ServerPath(portFile),
           ServerPath(logPath_)});
    for (int waited = 0; waited < 20000; waited += 20) {
        std::ifstream in(portFile);
        int port = 0;
        if (in >> port && port > 0 && WaitForGreeting(port)) {
            port_ = port;
            return;
        }
        if (!ServerRunning()) break;
        loopback::PauseMs(20);
    }
    throw std::runtime_error("pyftpdlib did not start; see " + workDir_);
}

namespace {

// True when the first three bytes, each awaited up to 5 s, are "220".
bool GreetsWith220(loopback::THandle s) {
    std::string greeting;
    char chunk[3];
    while (greeting.size() < 3) {
        if (loopback::Wait(s, false, loopback::None, 5000) != loopback::TReady::Ready) return false;
        const long long n = loopback::Recv(s, chunk, 3 - greeting.size());
        if (n <= 0) return false;
        greeting.append(chunk, static_cast<std::size_t>(n));
    }
    return greeting == "220";
}

}  // namespace

// True once something on the port greets with 220, while our process lives.
bool RealFtpServer::WaitForGreeting(int port) {
    for (int waited = 0; waited < 10000; waited += 20) {
        if (pid_ > 0 && !ServerRunning()) return false;
        const loopback::THandle s = loopback::Connect(port);
        if (s != loopback::None) {
            const bool ok = GreetsWith220(s);
            loopback::Close(s);
            return ok;
        }
        loopback::PauseMs(20);
    }
    return false;
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
