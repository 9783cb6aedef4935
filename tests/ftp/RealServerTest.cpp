// Uploads to real FTP servers from Debian on loopback, checked on disk, by
// SIZE and by the servers' own command logs.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "ftp/NetExceptions.h"
#include "ftp/commands/NetFTP.h"
#include "tests/ftp/FtpTestHelpers.h"
#include "tests/support/FileText.h"
#include "tests/support/FtpClientSetup.h"
#include "tests/support/FtpServers.h"

using namespace qz::test;

namespace {

void Connect(TNetFTP& ftp, const RealFtpServer& server) {
    qz::test::PointClientAt(ftp, server);
    ftp.ConnectToServer();
}

struct UploadCase {
    FtpServerKind kind;
    std::size_t size;
};

std::string UploadCaseName(const testing::TestParamInfo<UploadCase>& info) {
    return std::string(FtpServerKindName(info.param.kind)) + "_" + std::to_string(info.param.size);
}

std::vector<UploadCase> UploadCases() {
    std::vector<UploadCase> cases;
    for (FtpServerKind kind : {FtpServerKind::Vsftpd, FtpServerKind::Pyftpdlib})
        for (std::size_t size : {0u, 1u, 32767u, 32768u, 32769u, 64u << 20})
            cases.push_back({kind, size});
    return cases;
}

class RealUploadTest : public testing::TestWithParam<UploadCase> {};

TEST_P(RealUploadTest, StoresEveryByteAndReportsTheSize) {
    const UploadCase& c = GetParam();
    if (!FtpServerAvailable(c.kind)) GTEST_SKIP() << FtpServerKindName(c.kind) << " is not installed";
    RealFtpServer server(c.kind);
    const std::string content = PatternBytes(c.size);
    TempFile file(content, "local.xml");
    const std::string remote = "1210 26 extract.xml";

    TNetFTP ftp;
    std::vector<long long> begins;
    std::size_t progress = 0;
    long long lastCount = 0;
    int ends = 0;
    ftp.OnWorkBegin = [&](TNetComponent&, TWorkMode, long long max) { begins.push_back(max); };
    ftp.OnWork = [&](TNetComponent&, TWorkMode, long long count) {
        ++progress;
        lastCount = count;
    };
    // The data connection is closed before the end notification, so the
    // server's final reply can come while the handler runs.
    bool finalReplyDuringEnd = false;
    ftp.OnWorkEnd = [&](TNetComponent&, TWorkMode) {
        ++ends;
        finalReplyDuringEnd = ftp.IOHandler()->Readable(10000);
    };
    Connect(ftp, server);
    ftp.StoreFile(file.Path(), remote);
    long long size = ftp.RemoteFileSize(remote);
    ftp.CloseConnection();

    EXPECT_EQ(size, static_cast<long long>(c.size));
    EXPECT_TRUE(ReadAll(server.RootDir() + "/" + remote) == content) << "stored bytes differ";
    EXPECT_EQ(begins, std::vector<long long>{static_cast<long long>(c.size)});
    EXPECT_EQ(progress, (c.size + 32767) / 32768);  // one per send of up to 32768 bytes
    EXPECT_EQ(lastCount, static_cast<long long>(c.size));
    EXPECT_EQ(ends, 1);
    EXPECT_TRUE(finalReplyDuringEnd);
}

INSTANTIATE_TEST_SUITE_P(Servers, RealUploadTest, testing::ValuesIn(UploadCases()), UploadCaseName);

class RealSessionTest : public testing::TestWithParam<FtpServerKind> {};

TEST_P(RealSessionTest, ExchangeAsTheServerLogsIt) {
    if (!FtpServerAvailable(GetParam())) GTEST_SKIP() << FtpServerKindName(GetParam()) << " is not installed";
    RealFtpServer server(GetParam());
    std::filesystem::create_directory(server.RootDir() + "/in");
    std::filesystem::permissions(server.RootDir() + "/in", std::filesystem::perms::all);
    TempFile first(PatternBytes(1000)), second(PatternBytes(2000));
    {
        TNetFTP ftp;
        Connect(ftp, server);
        ftp.ChangeFolder("in");
        ftp.StoreFile(first.Path(), "a.xml");
        EXPECT_EQ(ftp.RemoteFileSize("a.xml"), 1000);
        ftp.StoreFile(second.Path(), "a.xml");  // sent again: replaced
        EXPECT_EQ(ftp.RemoteFileSize("a.xml"), 2000);
        EXPECT_EQ(ftp.RemoteFileSize("missing.xml"), -1);
        try {
            ftp.ChangeFolder("nowhere");
            ADD_FAILURE() << "no error";
        } catch (const ENetProtocolReplyError& e) {
            EXPECT_EQ(e.ReplyErrorCode(), 550);
        }
        EXPECT_TRUE(ftp.IsOpen());
        ftp.CloseConnection();
    }
    EXPECT_TRUE(ReadAll(server.RootDir() + "/in/a.xml") == PatternBytes(2000));

    // The log is written as the session ends; wait for it to settle.
    std::vector<std::string> commands;
    for (int i = 0; i < 200; ++i) {
        commands = server.LoggedCommands();
        if (commands.size() >= 13) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_EQ(commands.size(), 13u) << server.ReadLog();
    EXPECT_EQ(commands[0], "USER " + server.User());
    EXPECT_EQ(commands[1].rfind("PASS ", 0), 0u);  // servers mask the password
    const std::vector<std::string> rest(commands.begin() + 2, commands.end());
    EXPECT_EQ(rest, (std::vector<std::string>{"TYPE I", "SYST", "CWD in", "PASV", "STOR a.xml", "SIZE a.xml", "PASV",
                                              "STOR a.xml", "SIZE a.xml", "SIZE missing.xml", "CWD nowhere"}));
}

TEST_P(RealSessionTest, RefusedLoginCarriesTheServersText) {
    if (!FtpServerAvailable(GetParam())) GTEST_SKIP() << FtpServerKindName(GetParam()) << " is not installed";
    RealFtpServer server(GetParam());
    TNetFTP ftp;
    ftp.SetHost(server.Host());
    ftp.SetPort(server.Port());
    // vsftpd takes any anonymous password but no other user; pyftpdlib checks the password.
    ftp.SetUsername(GetParam() == FtpServerKind::Vsftpd ? "hotel" : server.User());
    ftp.SetPassword("wrong");
    try {
        ftp.ConnectToServer();
        FAIL() << "no error";
    } catch (const ENetProtocolReplyError& e) {
        EXPECT_EQ(e.ReplyErrorCode(), 530);
        EXPECT_FALSE(std::string(e.what()).empty());
    }
    EXPECT_FALSE(ftp.IsOpen());
}

INSTANTIATE_TEST_SUITE_P(Servers, RealSessionTest, testing::Values(FtpServerKind::Vsftpd, FtpServerKind::Pyftpdlib),
                         [](const testing::TestParamInfo<FtpServerKind>& info) {
                             return std::string(FtpServerKindName(info.param));
                         });

}  // namespace
