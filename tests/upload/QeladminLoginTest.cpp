// qeladmin login and check, run as the binary.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/FtpServers.h"
#include "tests/support/ScriptedFtpServer.h"
#include "upload/LoginFile.h"
#include "upload/TextFn.h"

namespace fs = std::filesystem;
using namespace qz::test;

namespace {

struct Result {
    int exitCode = -1;
    std::string output;   // stdout and stderr together
};

// Runs qeladmin with `input` (when given) as its standard input, else with
// an empty one.
Result Qeladmin(const std::vector<std::string>& args, const std::optional<std::string>& input = std::nullopt) {
    std::string command = QZ_QELADMIN;
    for (const std::string& a : args) command += " '" + a + "'";
    const fs::path inputFile = fs::temp_directory_path() / ("qz-qeladmin-input-" + std::to_string(::getpid()));
    std::ofstream(inputFile, std::ios::binary | std::ios::trunc) << input.value_or("");
    command += " <'" + inputFile.string() + "' 2>&1";
    Result r;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return r;
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) r.output.append(buffer, got);
    const int status = ::pclose(pipe);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    fs::remove(inputFile);
    return r;
}

// `qeladmin login` with the password on its standard input ("-" in its place);
// `port`: the server's port kept in the file, which check and upload use.
Result Login(const std::string& dir, const std::string& locationCode, const std::string& host,
             const std::string& user, const std::string& password, const std::string& remoteFolder = "",
             int port = 0) {
    std::vector<std::string> args = {"login", dir, locationCode, host, user, "-"};
    if (!remoteFolder.empty()) args.push_back(remoteFolder);
    if (port != 0) args.insert(args.end(), {"--port", std::to_string(port)});
    return Qeladmin(args, password + "\n");
}

class TempDir {
public:
    TempDir() : path_(fs::temp_directory_path() / ("qz-qeladmin-" + std::to_string(::getpid()) + "-" +
                                                    std::to_string(counter_++))) {
        fs::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string Str() const { return path_.string(); }

private:
    fs::path path_;
    static inline int counter_ = 0;
};

}  // namespace

TEST(QeladminLogin, WritesWhatTheProgramReads) {
    TempDir dir;
    const Result r = Login(dir.Str(), "NYC01", "ftp.example.com", "hotel", "s3cret!", "/in/NYC01");
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.output.find("s3cret!"), std::string::npos) << r.output;
    const std::string path = dir.Str() + "/NYC01.DAT";
    EXPECT_EQ(fs::file_size(path), 102u);   // 100 columns and CR LF
    const auto login = ReadLoginFile(dir.Str(), "NYC01");
    ASSERT_TRUE(login);
    EXPECT_EQ(login->FtpHost, "ftp.example.com     ");
    EXPECT_EQ(login->FtpUser, "hotel" + std::string(15, ' '));
    EXPECT_EQ(login->FtpPassword, "s3cret!" + std::string(13, ' '));
    EXPECT_EQ(login->RemoteFolder, "/in/NYC01");
}

TEST(QeladminLogin, WithoutRemoteFolderTheFolderIsBlank) {
    TempDir dir;
    ASSERT_EQ(Login(dir.Str(), "X", "h", "u", "p").exitCode, 0);
    const auto login = ReadLoginFile(dir.Str(), "X");
    ASSERT_TRUE(login);
    EXPECT_EQ(login->RemoteFolder, "");
}

struct TooLongCase { std::string name; std::vector<std::string> values; std::string field; };
class QeladminLoginTooLong : public ::testing::TestWithParam<TooLongCase> {};
TEST_P(QeladminLoginTooLong, RefusedWithoutWriting) {
    TempDir dir;
    const std::vector<std::string>& v = GetParam().values;
    const Result r = Login(dir.Str(), "LOC", v[0], v[1], v[2], v.size() > 3 ? v[3] : "");
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.output.find(GetParam().field), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("column holds"), std::string::npos) << r.output;
    if (GetParam().field == "PASSWORD") {
        EXPECT_EQ(r.output.find(v[2]), std::string::npos) << r.output;   // never the password
    }
    EXPECT_FALSE(fs::exists(dir.Str() + "/LOC.DAT"));
}
const std::string k21(21, 'h'), k41(41, 'f'), kLongPassword = "s3cret!s3cret!s3cret!";
INSTANTIATE_TEST_SUITE_P(Cases, QeladminLoginTooLong, ::testing::Values(
    TooLongCase{"User", {"h", k21, "p"}, "USER"},
    TooLongCase{"Password", {"h", "u", kLongPassword}, "PASSWORD"},
    TooLongCase{"RemoteFolder", {"h", "u", "p", k41}, "REMOTEFOLDER"}),
    [](const auto& info) { return info.param.name; });

// A host name longer than its column is kept whole after column 100.
TEST(QeladminLogin, LongHostKeptWhole) {
    TempDir dir;
    const std::string host = "ftp-central.hotels-of-the-chain.example.com";
    ASSERT_EQ(Login(dir.Str(), "LOC", host, "u", "p").exitCode, 0);
    const auto login = ReadLoginFile(dir.Str(), "LOC");
    ASSERT_TRUE(login);
    EXPECT_EQ(login->FtpHost, host.substr(0, 20));
    EXPECT_EQ(login->ServerHost(), host);
}

TEST(QeladminLogin, ServerOptionsWrittenAfterTheColumns) {
    TempDir dir;
    const Result r = Qeladmin({"login", dir.Str(), "LOC", "h", "u", "-", "in", "--port", "2121", "--confirm", "226"},
                              "p\n");
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const auto login = ReadLoginFile(dir.Str(), "LOC");
    ASSERT_TRUE(login);
    EXPECT_EQ(login->RemoteFolder, "in");
    EXPECT_EQ(login->Options.Port, 2121);
    EXPECT_EQ(login->Options.Confirm, TConfirmRule::FinalReply);
}

TEST(QeladminLogin, OptionNotUnderstoodIsRefusedWithoutWriting) {
    TempDir dir;
    const Result r = Qeladmin({"login", dir.Str(), "LOC", "h", "u", "-", "--tls", "explict"}, "p\n");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.output.find("explict"), std::string::npos) << r.output;
    EXPECT_FALSE(fs::exists(dir.Str() + "/LOC.DAT"));
}

TEST(QeladminLogin, ExactWidthsAreAccepted) {
    TempDir dir;
    ASSERT_EQ(Login(dir.Str(), "LOC", std::string(20, 'h'), std::string(20, 'u'), std::string(20, 'p'),
                    std::string(40, 'f')).exitCode, 0);
    const auto login = ReadLoginFile(dir.Str(), "LOC");
    ASSERT_TRUE(login);
    EXPECT_EQ(login->RemoteFolder, std::string(40, 'f'));
}

// The password never stands on the command line, where the process list and
// the shell's history would show it.
TEST(QeladminLogin, PasswordArgumentIsRefusedWithoutShowingIt) {
    TempDir dir;
    const Result r = Qeladmin({"login", dir.Str(), "LOC", "h", "u", "s3cret!"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.output.find("s3cret!"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("-"), std::string::npos) << r.output;
    EXPECT_FALSE(fs::exists(dir.Str() + "/LOC.DAT"));
}

struct StdinCase {
    std::string name, input;
    int exitCode;
    std::string password;   // as stored, when written
};
std::ostream& operator<<(std::ostream& out, const StdinCase& c) { return out << c.name; }
class QeladminLoginStdin : public ::testing::TestWithParam<StdinCase> {};
TEST_P(QeladminLoginStdin, ReadsTheFirstLine) {
    const StdinCase& c = GetParam();
    TempDir dir;
    const Result r = Qeladmin({"login", dir.Str(), "LOC", "h", "u", "-"}, c.input);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.output;
    if (!c.password.empty()) {
        EXPECT_EQ(r.output.find(c.password), std::string::npos) << r.output;
    }
    const auto login = ReadLoginFile(dir.Str(), "LOC");
    ASSERT_EQ(login.has_value(), c.exitCode == 0);
    if (login) {
        EXPECT_EQ(TextFn::TrimBlanks(login->FtpPassword), c.password);
    }
}
INSTANTIATE_TEST_SUITE_P(Cases, QeladminLoginStdin, ::testing::Values(
    StdinCase{"LineFeed", "s3cret!\nsecond line\n", 0, "s3cret!"},
    StdinCase{"CarriageReturnLineFeed", "s3cret!\r\n", 0, "s3cret!"},
    StdinCase{"NoLineEnd", "s3cret!", 0, "s3cret!"},
    StdinCase{"EmptyLine", "\n", 0, ""},
    StdinCase{"Nothing", "", 1, ""},
    StdinCase{"ControlCharacter", "s3c\x01ret!\n", 1, "s3c\x01ret!"}),
    [](const auto& info) { return info.param.name; });

// On a terminal it asks, and what is typed is not echoed.
TEST(QeladminLogin, PromptsOnATerminalWithoutEcho) {
    TempDir dir;
    int master = -1;
    const pid_t child = ::forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::execl(QZ_QELADMIN, "qeladmin", "login", dir.Str().c_str(), "LOC", "h", "u", "-", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    std::string seen;
    bool answered = false;
    for (;;) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0) break;
        char buffer[256];
        const ssize_t got = ::read(master, buffer, sizeof buffer);
        if (got <= 0) break;   // EIO once the child has gone
        seen.append(buffer, static_cast<std::size_t>(got));
        if (!answered && seen.find("Password: ") != std::string::npos) {
            answered = true;
            ASSERT_EQ(::write(master, "s3cret!\n", 8), 8);
        }
    }
    ::close(master);
    int status = 0;
    // A child still waiting for its input after 5 s is a failure, not a hang.
    pid_t ended = 0;
    for (int i = 0; i < 500 && (ended = ::waitpid(child, &status, WNOHANG)) == 0; ++i) ::usleep(10000);
    if (ended == 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
    }
    EXPECT_TRUE(answered) << seen;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << seen;
    EXPECT_EQ(seen.find("s3cret!"), std::string::npos) << seen;   // neither echoed nor printed
    const auto login = ReadLoginFile(dir.Str(), "LOC");
    ASSERT_TRUE(login);
    EXPECT_EQ(TextFn::TrimBlanks(login->FtpPassword), "s3cret!");
}

TEST(QeladminLogin, WrongArgumentCountShowsUsage) {
    EXPECT_NE(Qeladmin({"login", "/tmp"}).exitCode, 0);
}

TEST(QeladminCheck, MissingLoginFileSaysWhatTheProgramSays) {
    TempDir dir;
    const Result r = Qeladmin({"check", dir.Str(), "NONE"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("Not Enough Login Information To Upload!\n"), std::string::npos) << r.output;
}

class QeladminCheckReal : public ::testing::TestWithParam<FtpServerKind> {};
TEST_P(QeladminCheckReal, LogsInAndChangesFolder) {
    if (!FtpServerAvailable(GetParam())) GTEST_SKIP() << FtpServerKindName(GetParam()) << " not installed";
    RealFtpServer server(GetParam());
    fs::create_directories(server.RootDir() + "/incoming");
    TempDir dir;
    ASSERT_EQ(Login(dir.Str(), "LOC", "127.0.0.1", server.User(), server.Password(), "incoming", server.Port()).exitCode,
              0);
    const Result r = Qeladmin({"check", dir.Str(), "LOC"});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("port " + std::to_string(server.Port()) + " and logged in"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("changed to remote folder \"incoming\""), std::string::npos) << r.output;
}
INSTANTIATE_TEST_SUITE_P(Servers, QeladminCheckReal,
                         ::testing::Values(FtpServerKind::Vsftpd, FtpServerKind::Pyftpdlib),
                         [](const auto& info) { return std::string(FtpServerKindName(info.param)); });

struct CheckFailCase {
    std::string name;
    std::vector<ScriptStep> script;
    std::string folder;
    std::string expected;   // the reported line, full stop rule applied
};
class QeladminCheckFails : public ::testing::TestWithParam<CheckFailCase> {};
TEST_P(QeladminCheckFails, PrintsTheProgramsMessage) {
    ScriptedFtpServer server(GetParam().script);
    TempDir dir;
    ASSERT_EQ(Login(dir.Str(), "LOC", "127.0.0.1", "hotel", "pw", GetParam().folder, server.Port()).exitCode, 0);
    const Result r = Qeladmin({"check", dir.Str(), "LOC", "--timeout", "300"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("FAILED: " + GetParam().expected), std::string::npos) << r.output;
}
INSTANTIATE_TEST_SUITE_P(Cases, QeladminCheckFails, ::testing::Values(
    CheckFailCase{"LogInRefused", {Answer("530 Login incorrect.")}, "", "Login incorrect.\r\n"},
    CheckFailCase{"CwdRefused",
                  {Answer("230 ok"), Answer("200 ok"), Answer("215 UNIX"), Answer("550 No such folder")}, "x",
                  "No such folder\r\n"},
    CheckFailCase{"Timeout", {Answer("331 pw?", ScriptStep::Action::Silent)}, "", "Read Timeout."}),
    [](const auto& info) { return info.param.name; });

TEST(QeladminCheck, RefusedConnectionShowsTheSocketError) {
    // A port that was free a moment ago: nothing listens there now.
    int port;
    { ScriptedFtpServer probe({}); port = probe.Port(); }
    TempDir dir;
    ASSERT_EQ(Login(dir.Str(), "LOC", "127.0.0.1", "u", "p", "", port).exitCode, 0);
    const Result r = Qeladmin({"check", dir.Str(), "LOC"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("Socket Error # 10061"), std::string::npos) << r.output;
}

// `qeladmin check` with tls=explicit reports the handshake: version, cipher,
// the certificate's subject, issuer, dates and fingerprint, and what
// verified it; a certificate that does not verify is the program's error.
TEST(QeladminCheckTls, ReportsTheHandshakeAndRefusesAnUntrustedCertificate) {
    if (!FtpServerAvailable(FtpServerKind::Vsftpd)) GTEST_SKIP() << "vsftpd not installed";
    RealFtpServer good(FtpServerKind::Vsftpd, FtpTlsSetup{"good", "", ""});
    TempDir dir;
    const std::string ca = TestCertsDir() + "/ca.pem";
    ASSERT_EQ(Qeladmin({"login", dir.Str(), "LOC", "localhost", good.User(), "-", "--port", std::to_string(good.Port()),
                        "--tls", "explicit", "--tls-ca", ca},
                       good.Password() + "\n")
                  .exitCode,
              0);
    Result r = Qeladmin({"check", dir.Str(), "LOC"});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    for (const std::string& line :
         {std::string("TLS: TLSv1.3, cipher TLS_"), std::string("certificate: subject CN=localhost\n"),
          std::string("certificate: issuer CN=QELZAV test CA\n"), std::string("certificate: valid from 20"),
          std::string("certificate: SHA-256 "), "certificate: verified by the CA file " + ca + " and the host name localhost\n",
          std::string("logged in as \"anonymous\"")})
        EXPECT_NE(r.output.find(line), std::string::npos) << line << "\n" << r.output;

    RealFtpServer self(FtpServerKind::Vsftpd, FtpTlsSetup{"self", "", ""});
    ASSERT_EQ(Qeladmin({"login", dir.Str(), "SELF", "localhost", self.User(), "-", "--port", std::to_string(self.Port()),
                        "--tls", "explicit", "--tls-ca", ca},
                       self.Password() + "\n")
                  .exitCode,
              0);
    r = Qeladmin({"check", dir.Str(), "SELF"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("FAILED: The TLS handshake with the server failed: the server's certificate was refused: "
                            "self-signed certificate."),
              std::string::npos)
        << r.output;
    EXPECT_EQ(r.output.find("logged in"), std::string::npos) << r.output;
}

// One truth for the port: the login file's, which upload uses too. A port
// given to check alone would test another server than the nightly run's.
TEST(QeladminCheck, PortOptionIsRefusedWithAPointerToLogin) {
    ScriptedFtpServer server({Answer("230 ok"), Answer("200 ok"), Answer("215 UNIX")});
    TempDir dir;
    ASSERT_EQ(Login(dir.Str(), "LOC", "127.0.0.1", "u", "p").exitCode, 0);
    const Result r = Qeladmin({"check", dir.Str(), "LOC", "--port", std::to_string(server.Port())});
    EXPECT_EQ(r.exitCode, 2) << r.output;
    EXPECT_NE(r.output.find("--port N"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("OK"), std::string::npos) << r.output;
}

TEST(QeladminLogin, FileIsForTheFolderOwnerAlone) {
    TempDir dir;
    ASSERT_EQ(Login(dir.Str(), "LOC", "h", "u", "p").exitCode, 0);
    const auto perms = fs::status(dir.Str() + "/LOC.DAT").permissions();
    EXPECT_EQ(perms & (fs::perms::others_all | fs::perms::group_write), fs::perms::none);
    EXPECT_FALSE(fs::exists(dir.Str() + "/LOC.DAT.new"));
}
