// The upload run with a login file that asks for explicit FTPS: twenty files
// in one run to real servers on loopback with TLS required, under TLS 1.2 and
// 1.3, every file byte for byte, every mark honest, every data connection
// resumed; and a run that TLS refuses marks nothing.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "UploadFixture.h"
#include "tests/support/FtpServers.h"
#include "tests/support/TodayYmd.h"
#include "upload/LoginOptions.h"

using namespace qz::test;
namespace fs = std::filesystem;

namespace {

std::string Bytes(std::size_t count, unsigned seed) {
    std::string bytes(count, '\0');
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>((i * 131 + seed * 7 + i / 251) & 0xFF);
    return bytes;
}

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

std::string TlsOptions() { return "tls=explicit tls-ca=" + FormatOptionValue(TestCertsDir() + "/ca.pem"); }

using TlsRun = std::tuple<FtpServerKind, std::string>;

class UploadRunTls : public ::testing::TestWithParam<TlsRun> {};

TEST_P(UploadRunTls, TwentyFilesSentMarkedAndEveryDataConnectionResumed) {
    const auto& [kind, version] = GetParam();
    if (!FtpServerAvailable(kind)) GTEST_SKIP() << FtpServerKindName(kind) << " not installed";
    RealFtpServer server(kind, FtpTlsSetup{"good", version == "1.2" ? "1.2" : "", ""});
    fs::create_directories(server.RootDir() + "/incoming");
    fs::permissions(server.RootDir() + "/incoming", fs::perms::all);
    UploadBench bench;
    bench.ftp.SetPort(server.Port());
    bench.loginOptions = " " + TlsOptions();
    bench.WriteLogin("localhost", server.User(), server.Password(), "incoming");
    constexpr int kFiles = 20;
    std::vector<std::pair<std::string, std::string>> files;
    for (int i = 0; i < kFiles; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "F%02d120926.xml", i);
        files.emplace_back(name, Bytes(i == 3 ? 0 : 1000 + 40000 * i, unsigned(i)));
        bench.AddFile(files.back().first, files.back().second);
    }

    EXPECT_EQ(bench.Run(), "");

    for (const auto& [name, bytes] : files)
        EXPECT_TRUE(ReadWholeFile(server.RootDir() + "/incoming/" + name) == bytes) << name << " differs";
    EXPECT_EQ(bench.view.messages, (std::vector<std::string>{"All Finished!"}));
    const auto logged = bench.FileLogRows();
    ASSERT_EQ(logged.size(), std::size_t(kFiles));
    for (std::size_t i = 0; i < logged.size(); ++i) {
        EXPECT_EQ(logged[i].fileName, files[i].first);
        EXPECT_EQ(logged[i].copied, "YES");
    }
    EXPECT_EQ(bench.AuditRows().size(), std::size_t(kFiles + 1));
    EXPECT_EQ(bench.LastCopyText(), TodayYmd());
    EXPECT_EQ(bench.ftp.TlsInfo().Version, "TLSv" + version);
    EXPECT_EQ(bench.ftp.TlsDataConnections(), kFiles);
    // pure-ftpd hands out no TLS 1.3 ticket: nothing to resume there.
    const bool noTickets = kind == FtpServerKind::PureFtpd && version == "1.3";
    EXPECT_EQ(bench.ftp.TlsDataResumed(), noTickets ? 0 : kFiles);
    if (kind == FtpServerKind::Vsftpd) {
        std::string log;
        for (int i = 0; i < 250 && Count(log = server.ReadLog(), "SSL_RECEIVED_SHUTDOWN") < kFiles; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(Count(log, ", reused,"), kFiles) << log;
        EXPECT_EQ(Count(log, ", not reused,"), 1) << log;  // the control connection
    }
    if (kind == FtpServerKind::Proftpd) {
        std::string log;
        for (int i = 0; i < 250 && Count(log = server.ReadTlsLog(), "reused TLS session for data") < kFiles; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(Count(log, "client reused TLS session for data connection"), kFiles) << log;
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, UploadRunTls,
                         ::testing::Combine(::testing::Values(FtpServerKind::Vsftpd, FtpServerKind::Proftpd,
                                                              FtpServerKind::PureFtpd, FtpServerKind::Pyftpdlib),
                                            ::testing::Values(std::string("1.2"), std::string("1.3"))),
                         [](const auto& info) {
                             std::string v = std::get<1>(info.param);
                             v.erase(v.find('.'), 1);
                             return std::string(FtpServerKindName(std::get<0>(info.param))) + "_tls" + v;
                         });

// A certificate the client cannot trust stops the run after its first audit
// row: nothing sent, nothing marked, LASTCOPY unchanged.
TEST(UploadRunTlsRefused, ExpiredCertificateMarksNothing) {
    if (!FtpServerAvailable(FtpServerKind::Vsftpd)) GTEST_SKIP() << "vsftpd not installed";
    RealFtpServer server(FtpServerKind::Vsftpd, FtpTlsSetup{"expired", "", ""});
    UploadBench bench;
    bench.ftp.SetPort(server.Port());
    bench.loginOptions = " " + TlsOptions();
    bench.WriteLogin("localhost", server.User(), server.Password(), "");
    bench.AddFile("SALES120926.xml", Bytes(5000, 1));
    const std::string error = bench.Run();
    EXPECT_NE(error.find("certificate has expired"), std::string::npos) << error;
    EXPECT_TRUE(bench.FileLogRows().empty());
    EXPECT_EQ(bench.LastCopyText(), "");
    EXPECT_EQ(bench.AuditRows().size(), 1u);
    EXPECT_FALSE(fs::exists(server.RootDir() + "/SALES120926.xml"));
}

}  // namespace
