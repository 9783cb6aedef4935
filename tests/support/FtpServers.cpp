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
const char* const ProftpdProgram = "/opt/qelzav-ftp-servers/usr/sbin/proftpd";
const char* const PureFtpdProgram = "/opt/qelzav-ftp-servers/usr/sbin/pure-ftpd";
const char* const PurePwProgram = "/opt/qelzav-ftp-servers/usr/bin/pure-pw";

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
handler = FTPHandler
if len(sys.argv) > 7:
    from pyftpdlib.handlers import TLS_FTPHandler
    handler = TLS_FTPHandler
    handler.certfile, handler.keyfile = sys.argv[6:8]
    handler.tls_control_required = True
    handler.tls_data_required = True
handler.authorizer = authorizer
server = FTPServer(('127.0.0.1', 0), handler)
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

const char* FtpServerKindName(FtpServerKind kind) {
    switch (kind) {
    case FtpServerKind::Vsftpd: return "vsftpd";
    case FtpServerKind::Pyftpdlib: return "pyftpdlib";
    case FtpServerKind::HostileFtps: return "hostile_ftps";
    case FtpServerKind::Proftpd: return "proftpd";
    case FtpServerKind::PureFtpd: return "pureftpd";
    }
    return "?";
}

namespace {
std::string HostileFtpsScript() {
#ifdef QZ_HOSTILE_FTPS
    return QZ_HOSTILE_FTPS;
#else
    throw std::runtime_error("this test program was built without QZ_HOSTILE_FTPS");
#endif
}
}  // namespace

std::string TestCertsDir() {
#ifdef QZ_TEST_CERTS
    return QZ_TEST_CERTS;
#else
    throw std::runtime_error("this test program was built without QZ_TEST_CERTS");
#endif
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
    Start();
}

RealFtpServer::RealFtpServer(FtpServerKind kind, const FtpTlsSetup& tls, std::string rootDir)
    : kind_(kind), tls_(tls), rootDir_(std::move(rootDir)) {
    workDir_ = MakeTempDir(std::string("qz-") + FtpServerKindName(kind) + "-");
    if (rootDir_.empty()) {
        rootDir_ = workDir_ + "/root";
        ownsRoot_ = true;
    }
    fs::create_directories(rootDir_);
    const std::string cert = ServerPath(TestCertsDir() + "/" + tls.Cert);
    if (kind == FtpServerKind::Vsftpd)
        extraConfig_ = "ssl_enable=YES\nallow_anon_ssl=YES\nforce_anon_logins_ssl=YES\nforce_anon_data_ssl=YES\n"
                       "require_ssl_reuse=YES\ndebug_ssl=YES\nssl_ciphers=HIGH\n"
                       "rsa_cert_file=" + cert + ".pem\nrsa_private_key_file=" + cert + ".key";
    Start();
}

void RealFtpServer::Start() {
    try {
        if (kind_ == FtpServerKind::Vsftpd)
            StartVsftpd();
        else if (kind_ == FtpServerKind::Proftpd)
            StartProftpd();
        else if (kind_ == FtpServerKind::PureFtpd)
            StartPureFtpd();
        else
            StartPyftpdlib();
    } catch (...) {
        Stop();
        fs::remove_all(workDir_);
        throw;
    }
}

std::vector<std::string> RealFtpServer::WithTlsLimits(std::vector<std::string> argv) {
    if (!tls_ || tls_->MaxVersion.empty()) return argv;
    // OpenSSL's own configuration caps the version for the whole server.
    const std::string conf = workDir_ + "/openssl.cnf";
    WriteFile(conf, "openssl_conf = qz_conf\n[qz_conf]\nssl_conf = qz_ssl\n[qz_ssl]\nsystem_default = qz_tls\n"
                    "[qz_tls]\nMaxProtocol = TLSv" + tls_->MaxVersion + "\n");
    argv.insert(argv.begin(), {"/usr/bin/env", "OPENSSL_CONF=" + ServerPath(conf)});
    return argv;
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
        Spawn(WithTlsLimits({VsftpdProgram, ServerPath(confPath)}));
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
    std::vector<std::string> argv;
    if (kind_ == FtpServerKind::HostileFtps) {
        script = HostileFtpsScript();
        argv = {PythonProgram, ServerPath(script), tls_ ? tls_->Mode : "", ServerPath(TestCertsDir()),
                ServerPath(rootDir_), ServerPath(portFile), ServerPath(logPath_)};
    } else {
        WriteFile(script, PyftpdlibScript);
        argv = {PythonProgram, ServerPath(script), ServerPath(rootDir_), user_, password_, ServerPath(portFile),
                ServerPath(logPath_)};
        if (tls_) {
            const std::string cert = ServerPath(TestCertsDir() + "/" + tls_->Cert);
            argv.push_back(cert + ".pem");
            argv.push_back(cert + ".key");
        }
    }
    Spawn(WithTlsLimits(argv));
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

void RealFtpServer::StartProftpd() {
    // Anonymous log-in into the root folder, as the user "nobody".
    user_ = "anonymous";
    password_ = "qelzav@";
    // The sessions run as "nobody", who must reach the root folder.
    SetMode(workDir_, 0755);
    SetMode(rootDir_, 0777);
    logPath_ = workDir_ + "/commands.log";
    tlsLogPath_ = workDir_ + "/tls.log";
    for (int attempt = 0; attempt < 10; ++attempt) {
        const int port = loopback::FreePort();
        std::ostringstream conf;
        conf << "ServerType standalone\nServerName \"qelzav test\"\nDefaultServer on\nPort " << port
             << "\nDefaultAddress 127.0.0.1\nSocketBindTight on\nUseIPv6 off\nUseFtpUsers off\n"
             << "User nobody\nGroup nogroup\nUseReverseDNS off\nDelayTable none\nWtmpLog off\n"
             << "PidFile " << ServerPath(workDir_) << "/proftpd.pid\nScoreboardFile " << ServerPath(workDir_)
             << "/scoreboard\nSystemLog " << ServerPath(workDir_) << "/system.log\n"
             << "ExtendedLog " << ServerPath(logPath_) << " ALL\n"
             << "ModulePath " << fs::path(ProftpdProgram).parent_path().parent_path().string() << "/lib/proftpd\n";
        if (tls_) {
            const std::string cert = ServerPath(TestCertsDir() + "/" + tls_->Cert);
            // mod_tls requires a data connection to resume the control
            // connection's session unless told otherwise.
            conf << "LoadModule mod_tls.c\nTLSEngine on\nTLSRequired on\nTLSVerifyClient off\n"
                 << "TLSLog " << ServerPath(tlsLogPath_) << "\n"
                 << "TLSProtocol " << (tls_->MaxVersion == "1.2" ? "TLSv1.2" : "TLSv1.2 TLSv1.3") << "\n"
                 << "TLSECCertificateFile " << cert << ".pem\nTLSECCertificateKeyFile " << cert << ".key\n";
        }
        conf << "<Anonymous " << ServerPath(rootDir_) << ">\n  User nobody\n  Group nogroup\n"
             << "  UserAlias anonymous nobody\n  RequireValidShell off\n  <Limit WRITE>\n    AllowAll\n"
             << "  </Limit>\n</Anonymous>\n";
        const std::string confPath = workDir_ + "/proftpd.conf";
        WriteFile(confPath, conf.str());
        Spawn({ProftpdProgram, "-n", "-q", "-c", ServerPath(confPath)});
        if (WaitForGreeting(port)) {
            port_ = port;
            return;
        }
        Stop();
    }
    throw std::runtime_error("proftpd did not start; see " + workDir_);
}

void RealFtpServer::StartPureFtpd() {
    // One virtual user (pure-pw's database) with the root folder as home,
    // running as "nobody".
    user_ = "qeluser";
    password_ = "qelpass";
    SetMode(workDir_, 0755);
    SetMode(rootDir_, 0777);
    const std::string passwd = workDir_ + "/pureftpd.passwd", db = workDir_ + "/pureftpd.pdb";
    const std::string add = std::string("printf '%s\\n%s\\n' ") + password_ + " " + password_ + " | " + PurePwProgram +
                            " useradd " + user_ + " -u 65534 -g 65534 -d " + ServerPath(rootDir_) + " -f " +
                            ServerPath(passwd) + " -F " + ServerPath(db) + " -m >/dev/null 2>&1";
    if (std::system(add.c_str()) != 0) throw std::runtime_error("pure-pw failed");
    logPath_.clear();
    for (int attempt = 0; attempt < 10; ++attempt) {
        const int port = loopback::FreePort();
        std::vector<std::string> argv = {PureFtpdProgram, "-S", "127.0.0.1," + std::to_string(port), "-l",
                                         "puredb:" + ServerPath(db), "-E", "-H"};
        if (tls_) {
            const std::string cert = ServerPath(TestCertsDir() + "/" + tls_->Cert);
            // -Y 3: TLS required on the control and the data connections.
            argv.insert(argv.end(), {"-Y", "3", "-2", cert + ".pem," + cert + ".key"});
        }
        Spawn(WithTlsLimits(argv));
        if (WaitForGreeting(port)) {
            port_ = port;
            return;
        }
        Stop();
    }
    throw std::runtime_error("pure-ftpd did not start; see " + workDir_);
}

std::string RealFtpServer::ReadTlsLog() const {
    if (kind_ == FtpServerKind::Vsftpd) return ReadLog();
    if (tlsLogPath_.empty()) return {};
    std::ifstream in(tlsLogPath_, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
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
        std::string command;
        if (kind_ == FtpServerKind::Vsftpd) {
            command = QuotedAfter(line, "FTP command: Client \"127.0.0.1\", \"");
        } else if (kind_ == FtpServerKind::Proftpd) {
            // 127.0.0.1 UNKNOWN - [date] "USER anonymous" 331 -
            std::size_t open = line.find("] \""), close = line.rfind('"');
            if (open != std::string::npos && close > open + 3) command = line.substr(open + 3, close - open - 3);
        } else {
            command = QuotedAfter(line, "<- ");
        }
        if (!command.empty()) commands.push_back(command);
    }
    return commands;
}

}  // namespace qz::test
