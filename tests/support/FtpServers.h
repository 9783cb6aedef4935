#pragma once
// Real FTP servers from Debian, started on 127.0.0.1 at a free port for one
// test and stopped when the object goes away.
//
//   qz::test::RealFtpServer server(qz::test::FtpServerKind::Vsftpd, "/tmp/x/root");
//   client.SetPort(server.Port()); client.SetUsername(server.User()); ...
//   server.ReadLog()  // the server's command log
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace qz::test {

enum class FtpServerKind { Vsftpd, Pyftpdlib, HostileFtps, Proftpd, PureFtpd };

// FTP over TLS for a test server: its certificate (a name made by
// tests/support/make-test-certs: "good", "expired", "self", "wronghost",
// "other") and the highest TLS version it speaks. HostileFtps is a small
// scripted server (tests/support/hostile-ftps.py) that misbehaves as `Mode`
// says.
struct FtpTlsSetup {
    std::string Cert = "good";
    std::string MaxVersion;  // "1.2", or empty for the newest (1.3)
    std::string Mode;        // HostileFtps only
};

// The folder of the test certificates as this program names it (QZ_TEST_CERTS).
std::string TestCertsDir();

const char* FtpServerKindName(FtpServerKind kind);
// Every kind whose program is installed.
std::vector<FtpServerKind> AvailableFtpServerKinds();
bool FtpServerAvailable(FtpServerKind kind);

class RealFtpServer {
public:
    // Starts the server with `rootDir` (created when missing; empty: a fresh
    // temporary folder) as the folder the login lands in and may write to.
    // Returns once the server answers with its greeting; throws
    // std::runtime_error when it cannot be started. A `fixedPort` (vsftpd
    // only) is used as given, e.g. 21 inside a test's own network namespace;
    // `extraConfig` (vsftpd only) adds lines to the server's configuration.
    RealFtpServer(FtpServerKind kind, std::string rootDir = {}, int fixedPort = 0, std::string extraConfig = {});
    // The same server with TLS required on the control and data connections.
    RealFtpServer(FtpServerKind kind, const FtpTlsSetup& tls, std::string rootDir = {});
    ~RealFtpServer();
    RealFtpServer(const RealFtpServer&) = delete;
    RealFtpServer& operator=(const RealFtpServer&) = delete;

    FtpServerKind Kind() const { return kind_; }
    const std::string& Host() const { return host_; }
    int Port() const { return port_; }
    const std::string& User() const { return user_; }
    const std::string& Password() const { return password_; }
    // Local folder where uploaded files land.
    const std::string& RootDir() const { return rootDir_; }
    // The server's protocol log (commands and replies as it logs them).
    const std::string& LogPath() const { return logPath_; }
    std::string ReadLog() const;
    // Where the server records its TLS sessions: vsftpd's log (debug_ssl),
    // ProFTPD's TLSLog; empty for the others.
    std::string ReadTlsLog() const;
    // The commands of the log, in order ("USER anonymous", "STOR a.xml", ...).
    std::vector<std::string> LoggedCommands() const;

private:
    void Start();
    void StartVsftpd();
    void StartPyftpdlib();
    void StartProftpd();
    void StartPureFtpd();
    // argv with the server's OpenSSL limited as tls_ says.
    std::vector<std::string> WithTlsLimits(std::vector<std::string> argv);
    void Spawn(const std::vector<std::string>& argv);
    bool WaitForGreeting(int port);
    bool ServerRunning();   // false once the spawned process has ended
    void Stop();

    FtpServerKind kind_;
    int fixedPort_ = 0;
    std::string extraConfig_;
    std::optional<FtpTlsSetup> tls_;
    std::string host_ = "127.0.0.1";
    int port_ = 0;
    std::string user_, password_;
    std::string workDir_, rootDir_, logPath_, tlsLogPath_;
    bool ownsRoot_ = false;
    pid_t pid_ = -1;
};

}  // namespace qz::test
