// qeladmin login and check, run as the binary.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
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

Result Qeladmin(const std::vector<std::string>& args) {
    std::string command = QZ_QELADMIN;
    for (const std::string& a : args) command += " '" + a + "'";
    command += " 2>&1";
    Result r;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return r;
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) r.output.append(buffer, got);
    const int status = ::pclose(pipe);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
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
    const Result r = Qeladmin({"login", dir.Str(), "NYC01", "ftp.example.com", "hotel", "s3cret!", "/in/NYC01"});
    ASSERT_EQ(r.exitCode, 0) << r.output;
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
    ASSERT_EQ(Qeladmin({"login", dir.Str(), "X", "h", "u", "p"}).exitCode, 0);
    const auto login = ReadLoginFile(dir.Str(), "X");
    ASSERT_TRUE(login);
    EXPECT_EQ(login->RemoteFolder, "");
}

struct TooLongCase { std::string name; std::vector<std::string> values; std::string field; };
class QeladminLoginTooLong : public ::testing::TestWithParam<TooLongCase> {};
TEST_P(QeladminLoginTooLong, RefusedWithoutWriting) {
    TempDir dir;
    std::vector<std::string> args = {"login", dir.Str(), "LOC"};
    args.insert(args.end(), GetParam().values.begin(), GetParam().values.end());
    const Result r = Qeladmin(args);
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.output.find(GetParam().field), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("column holds"), std::string::npos) << r.output;
    EXPECT_FALSE(fs::exists(dir.Str() + "/LOC.DAT"));
}
const std::string k21(21, 'h'), k41(41, 'f');
INSTANTIATE_TEST_SUITE_P(Cases, QeladminLoginTooLong, ::testing::Values(
    TooLongCase{"Host", {k21, "u", "p"}, "HOST"},
    TooLongCase{"User", {"h", k21, "p"}, "USER"},
    TooLongCase{"Password", {"h", "u", k21}, "PASSWORD"},
    TooLongCase{"RemoteFolder", {"h", "u", "p", k41}, "REMOTEFOLDER"}),
    [](const auto& info) { return info.param.name; });

TEST(QeladminLogin, ExactWidthsAreAccepted) {
    TempDir dir;
    ASSERT_EQ(Qeladmin({"login", dir.Str(), "LOC", std::string(20, 'h'), std::string(20, 'u'),
                        std::string(20, 'p'), std::string(40, 'f')}).exitCode, 0);
    const auto login = ReadLoginFile(dir.Str(), "LOC");
    ASSERT_TRUE(login);
    EXPECT_EQ(login->RemoteFolder, std::string(40, 'f'));
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
    ASSERT_EQ(Qeladmin({"login", dir.Str(), "LOC", "127.0.0.1", server.User(), server.Password(), "incoming"})
                  .exitCode, 0);
    const Result r = Qeladmin({"check", dir.Str(), "LOC", "--port", std::to_string(server.Port())});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("logged in"), std::string::npos) << r.output;
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
    ASSERT_EQ(Qeladmin({"login", dir.Str(), "LOC", "127.0.0.1", "hotel", "pw", GetParam().folder}).exitCode, 0);
    const Result r = Qeladmin({"check", dir.Str(), "LOC", "--port", std::to_string(server.Port()), "--timeout", "300"});
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
    ASSERT_EQ(Qeladmin({"login", dir.Str(), "LOC", "127.0.0.1", "u", "p"}).exitCode, 0);
    const Result r = Qeladmin({"check", dir.Str(), "LOC", "--port", std::to_string(port)});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("Socket Error # 10061"), std::string::npos) << r.output;
}
