#pragma once
// Real FTP servers from Debian, started on 127.0.0.1 at a free port for one
// test and stopped when the object goes away.
//
//   qz::test::RealFtpServer server(qz::test::FtpServerKind::Vsftpd, "/tmp/x/root");
//   client.SetPort(server.Port()); client.SetUsername(server.User()); ...
//   server.ReadLog()  // the server's command log
#include <string>
#include <vector>

#include <sys/types.h>

namespace qz::test {

enum class FtpServerKind { Vsftpd, Pyftpdlib };

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
    // The commands of the log, in order ("USER anonymous", "STOR a.xml", ...).
    std::vector<std::string> LoggedCommands() const;

private:
    void StartVsftpd();
    void StartPyftpdlib();
    void Spawn(const std::vector<std::string>& argv);
    bool WaitForGreeting(int port);
    bool ServerRunning();   // false once the spawned process has ended
    void Stop();

    FtpServerKind kind_;
    int fixedPort_ = 0;
    std::string extraConfig_;
    std::string host_ = "127.0.0.1";
    int port_ = 0;
    std::string user_, password_;
    std::string workDir_, rootDir_, logPath_;
    bool ownsRoot_ = false;
    pid_t pid_ = -1;
};

}  // namespace qz::test
