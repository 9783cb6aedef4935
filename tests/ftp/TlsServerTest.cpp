// Explicit FTPS against real servers from Debian on loopback (vsftpd and
// ProFTPD with session reuse required, pure-ftpd and pyftpdlib's TLS
// handler, which do not require it), under TLS 1.2 and 1.3,
// and against hostile servers: certificates that must be refused, a pin,
// AUTH TLS or PROT P refused, plain text after 234, a data connection with
// another certificate, a data connection cut without close_notify.
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
#include "tests/support/MemoryTlsTransport.h"

using namespace qz::test;

namespace {

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

void PointTlsClientAt(TNetFTP& ftp, const RealFtpServer& server, const std::string& host = "localhost") {
    PointClientAt(ftp, server);
    ftp.SetHost(host);
    ftp.Tls.Enabled = true;
    ftp.Tls.CaFile = TestCertsDir() + "/ca.pem";
}

// The server's log once it holds `n` occurrences of `what` (it is written as
// the session goes).
std::string LogWith(const RealFtpServer& server, const std::string& what, int n) {
    std::string log;
    for (int i = 0; i < 250; ++i) {
        log = server.ReadLog();
        if (Count(log, what) >= n) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return log;
}

struct TlsCase {
    FtpServerKind kind;
    std::string version;  // "1.2" or "1.3"
};

void PrintTo(const TlsCase& c, std::ostream* out) { *out << FtpServerKindName(c.kind) << " TLS " << c.version; }

class TlsUploadTest : public testing::TestWithParam<TlsCase> {};

TEST_P(TlsUploadTest, TwentyFilesEachOnAResumedSession) {
    const TlsCase& c = GetParam();
    if (!FtpServerAvailable(c.kind)) GTEST_SKIP() << FtpServerKindName(c.kind) << " is not installed";
    RealFtpServer server(c.kind, FtpTlsSetup{"good", c.version == "1.2" ? "1.2" : "", ""});
    constexpr int kFiles = 20;
    std::vector<std::unique_ptr<TempFile>> files;
    for (int i = 0; i < kFiles; ++i)
        files.push_back(std::make_unique<TempFile>(PatternBytes(1000 + 7919 * i), "f" + std::to_string(i) + ".xml"));

    TNetFTP ftp;
    PointTlsClientAt(ftp, server);
    ftp.ConnectToServer();
    EXPECT_EQ(ftp.TlsInfo().Version, "TLSv" + c.version);
    EXPECT_NE(ftp.TlsInfo().VerifiedBy.find("the CA file"), std::string::npos) << ftp.TlsInfo().VerifiedBy;
    for (int i = 0; i < kFiles; ++i) {
        const std::string name = "f" + std::to_string(i) + ".xml";
        try {
            ftp.StoreFile(files[i]->Path(), name);
        } catch (const ENetException& e) {
            FAIL() << "file " << i << ": " << e.what() << " (sessions received " << ftp.TlsSessionsReceived()
                   << ", data connections resumed " << ftp.TlsDataResumed() << ")";
        }
        EXPECT_EQ(ftp.RemoteFileSize(name), 1000 + 7919 * i);
    }
    ftp.CloseConnection();

    for (int i = 0; i < kFiles; ++i)
        EXPECT_TRUE(ReadAll(server.RootDir() + "/f" + std::to_string(i) + ".xml") == PatternBytes(1000 + 7919 * i))
            << "file " << i << " differs";
    // The client's own record: every data connection resumed a session;
    // pure-ftpd under TLS 1.3 hands out no ticket, so nothing can resume
    // there (each data connection then showed the control connection's
    // certificate, or the store would have failed).
    EXPECT_EQ(ftp.TlsDataConnections(), kFiles);
    if (c.kind == FtpServerKind::PureFtpd && c.version == "1.3") {
        EXPECT_EQ(ftp.TlsSessionsReceived(), 0);
        EXPECT_EQ(ftp.TlsDataResumed(), 0);
    } else {
        EXPECT_EQ(ftp.TlsDataResumed(), kFiles);
    }
    EXPECT_EQ(ftp.TlsLastDataInfo().Version, "TLSv" + c.version);
    if (c.kind == FtpServerKind::Vsftpd) {
        // The server's own: one full handshake (the control connection), then
        // every data connection "reused" and ended by our close_notify.
        const std::string log = LogWith(server, "SSL_RECEIVED_SHUTDOWN", kFiles);
        EXPECT_EQ(Count(log, "SSL version: TLSv" + c.version + ", SSL cipher: "), kFiles + 1) << log;
        EXPECT_EQ(Count(log, ", not reused,"), 1) << log;
        EXPECT_EQ(Count(log, ", reused,"), kFiles) << log;
        EXPECT_EQ(Count(log, "\"SSL shutdown state is: SSL_RECEIVED_SHUTDOWN\""), kFiles) << log;
        EXPECT_EQ(Count(log, "522 "), 0) << log;
        EXPECT_EQ(ftp.TlsRenewals(), 0);  // it gives a ticket on every data connection
    }
    if (c.kind == FtpServerKind::Proftpd) {
        // mod_tls's TLSLog: the control connection's handshake, then every
        // data connection resumed (it refuses one that is not).
        std::string log;
        for (int i = 0; i < 250 && Count(log = server.ReadTlsLog(), "reused TLS session for data") < kFiles; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        // Under TLS 1.3 its tickets are single-use and none come on data
        // connections: the client logs in anew when the two of a log-in are
        // used up.
        EXPECT_EQ(ftp.TlsRenewals(), c.version == "1.3" ? kFiles / 2 - 1 : 0);
        EXPECT_EQ(Count(log, "TLSv" + c.version + " connection accepted"), 1 + ftp.TlsRenewals()) << log;
        EXPECT_EQ(Count(log, "client reused TLS session for data connection"), kFiles) << log;
        EXPECT_EQ(Count(log, "did not reuse"), 0) << log;
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, TlsUploadTest,
                         testing::Values(TlsCase{FtpServerKind::Vsftpd, "1.2"}, TlsCase{FtpServerKind::Vsftpd, "1.3"},
                                         TlsCase{FtpServerKind::Proftpd, "1.2"}, TlsCase{FtpServerKind::Proftpd, "1.3"},
                                         TlsCase{FtpServerKind::PureFtpd, "1.2"}, TlsCase{FtpServerKind::PureFtpd, "1.3"},
                                         TlsCase{FtpServerKind::Pyftpdlib, "1.2"},
                                         TlsCase{FtpServerKind::Pyftpdlib, "1.3"}),
                         [](const testing::TestParamInfo<TlsCase>& info) {
                             std::string v = info.param.version;
                             v.erase(v.find('.'), 1);
                             return std::string(FtpServerKindName(info.param.kind)) + "_tls" + v;
                         });

// A connection that must fail with `message` before USER goes out.
void ExpectRefusedBeforeLogin(TNetFTP& ftp, const RealFtpServer& server, const std::string& message) {
    try {
        ftp.ConnectToServer();
        FAIL() << "connected";
    } catch (const ENetException& e) {
        EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
    }
    EXPECT_FALSE(ftp.IsOpen());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    for (const std::string& command : server.LoggedCommands()) {
        EXPECT_EQ(command.find("USER"), std::string::npos) << server.ReadLog();
        EXPECT_EQ(command.find("PASS"), std::string::npos) << server.ReadLog();
    }
}

struct CertCase {
    const char* name;
    const char* cert;
    const char* host;
    const char* pin;  // "" for none; "good" / "wrong" below
    const char* message;
};

void PrintTo(const CertCase& c, std::ostream* out) { *out << c.name; }

class TlsCertificateTest : public testing::TestWithParam<CertCase> {};

TEST_P(TlsCertificateTest, RefusedWithAClearErrorBeforeLogIn) {
    const CertCase& c = GetParam();
    if (!FtpServerAvailable(FtpServerKind::Vsftpd)) GTEST_SKIP() << "vsftpd is not installed";
    RealFtpServer server(FtpServerKind::Vsftpd, FtpTlsSetup{c.cert, "", ""});
    TNetFTP ftp;
    PointTlsClientAt(ftp, server, c.host);
    if (std::string(c.pin) == "wrong") ftp.Tls.Pin = "cert:" + std::string(64, '0');
    ExpectRefusedBeforeLogin(ftp, server, c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, TlsCertificateTest,
    testing::Values(CertCase{"expired", "expired", "localhost", "", "certificate has expired"},
                    CertCase{"self_signed", "self", "localhost", "", "self-signed certificate"},
                    CertCase{"wrong_host", "wronghost", "localhost", "", "hostname mismatch"},
                    CertCase{"wrong_address", "wronghost", "127.0.0.1", "", "IP address mismatch"},
                    CertCase{"pin_mismatch", "good", "localhost", "wrong", "does not match the TLS pin"}),
    [](const testing::TestParamInfo<CertCase>& info) { return std::string(info.param.name); });

// A pinned self-signed certificate is accepted without a CA, by its
// certificate or its key; the pin's word forms are checked before connecting.
TEST(TlsPinTest, SelfSignedServerByItsPin) {
    if (!FtpServerAvailable(FtpServerKind::Vsftpd)) GTEST_SKIP() << "vsftpd is not installed";
    RealFtpServer server(FtpServerKind::Vsftpd, FtpTlsSetup{"self", "", ""});
    TNetFTP probe;
    PointTlsClientAt(probe, server);
    probe.Tls.Pin = "cert:" + std::string(64, 'a');
    std::string certPin, keyPin;
    try {
        probe.ConnectToServer();
        FAIL() << "a wrong pin was accepted";
    } catch (const ENetTlsError& e) {
        // The error names both of the server's pins.
        std::string text = e.what();
        std::size_t cert = text.find("cert:"), key = text.find(", key:");
        ASSERT_NE(key, std::string::npos) << text;
        certPin = text.substr(cert, key - cert);
        keyPin = text.substr(key + 2, 4 + 95);
    }
    TempFile file(PatternBytes(5000), "p.xml");
    for (const std::string& pin : {certPin, keyPin, "cert:" + std::string(64, '0') + "," + keyPin}) {
        TNetFTP ftp;
        PointTlsClientAt(ftp, server);
        ftp.Tls.CaFile.clear();
        ftp.Tls.Pin = pin;
        ftp.ConnectToServer();
        EXPECT_EQ(ftp.TlsInfo().VerifiedBy, "the TLS pin");
        ftp.StoreFile(file.Path(), "p.xml");
        EXPECT_EQ(ftp.RemoteFileSize("p.xml"), 5000);
        EXPECT_EQ(ftp.TlsDataResumed(), 1);
        ftp.CloseConnection();
    }
    for (const char* bad : {"", "cert:12", "sha1:abcd", "key:" /* empty */, "sha256//AAAA"}) {
        TNetFTP ftp;
        PointTlsClientAt(ftp, server);
        ftp.Tls.Pin = bad;
        if (std::string(bad).empty()) continue;  // no pin at all is the CA check
        try {
            ftp.ConnectToServer();
            ADD_FAILURE() << bad << " accepted";
        } catch (const ENetTlsError& e) {
            EXPECT_NE(std::string(e.what()).find("is not understood"), std::string::npos) << e.what();
        }
    }
}

struct HostileCase {
    const char* mode;
    const char* message;
    bool loggedIn;  // USER and PASS went out (inside TLS)
};

void PrintTo(const HostileCase& c, std::ostream* out) { *out << c.mode; }

class TlsHostileServerTest : public testing::TestWithParam<HostileCase> {};

TEST_P(TlsHostileServerTest, ClearErrorAndNothingInClear) {
    const HostileCase& c = GetParam();
    RealFtpServer server(FtpServerKind::HostileFtps, FtpTlsSetup{"good", "", c.mode});
    TempFile file(PatternBytes(8 << 20), "h.xml");
    TNetFTP ftp;
    PointTlsClientAt(ftp, server);
    std::string error;
    try {
        ftp.ConnectToServer();
        ftp.StoreFile(file.Path(), "h.xml");
        ADD_FAILURE() << "stored";
    } catch (const ENetException& e) {
        error = e.what();
    }
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::string log = server.ReadLog();
    EXPECT_EQ(Count(log, "<- CLEAR"), 0) << log;
    EXPECT_EQ(Count(log, "<- USER"), c.loggedIn ? 1 : 0) << log;
    EXPECT_EQ(Count(log, "<- PASV"), 0 + (std::string(c.mode).find("data") != std::string::npos ||
                                          std::string(c.mode) == "cut-mid-file"))
        << log;
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, TlsHostileServerTest,
    testing::Values(HostileCase{"auth-refused", "The server refused TLS (AUTH TLS): AUTH TLS not available.", false},
                    HostileCase{"plain-after-234", "The server sent plain text after agreeing to TLS.", false},
                    HostileCase{"plain-after-234-late", "The TLS handshake with the server failed", false},
                    HostileCase{"prot-refused", "The server refused encrypted data connections (PROT P): PROT P refused.",
                                true},
                    HostileCase{"data-cert-differs",
                                "The data connection's certificate differs from the control connection's.", true},
                    HostileCase{"cut-mid-file", "Socket Error # ", true}),
    [](const testing::TestParamInfo<HostileCase>& info) {
        std::string name = info.param.mode;
        for (char& ch : name)
            if (ch == '-') ch = '_';
        return name;
    });

// A client over the in-memory FTPS server, trusting it by its pin.
void PointAtMemoryServer(TNetFTP& ftp, MemoryServer& server) {
    ftp.Tls.Enabled = true;
    ftp.Tls.Pin = MemoryTlsPin();
    ftp.MakeIOHandler = MemoryTlsTransport(server, true);
    ftp.MakeDataIOHandler = MemoryTlsTransport(server, false);
    ftp.SetHost("127.0.0.1");
    ftp.SetUsername("hotel");
    ftp.SetPassword("secret");
    ftp.SetReadTimeout(1000);
}

// The in-memory FTPS server the whole-exchange fuzzer uses: its seed script
// goes all the way through, the replies after 234 and the data inside TLS,
// and the data connection resumes.
TEST(TlsMemoryTransportTest, WholeExchangeInsideTls) {
    const std::string script =
        "220 hostile\r\n234 go\r\n331 pass\r\n230 in\r\n200 PBSZ=0\r\n200 PROT P\r\n200 type\r\n215 UNIX\r\n"
        "250 cwd\r\n227 Entering Passive Mode (127,0,0,1,4,1)\r\n150 ok\r\n226 done\r\n213 70000\r\n";
    MemoryServer server;
    server.control = script;
    TempFile file(PatternBytes(70000), "m.xml");
    TNetFTP ftp;
    PointAtMemoryServer(ftp, server);
    ftp.ConnectToServer();
    ftp.ChangeFolder("/in");
    ftp.StoreFile(file.Path(), "m.xml");
    EXPECT_EQ(ftp.RemoteFileSize("m.xml"), 70000);
    ftp.CloseConnection();
    EXPECT_EQ(server.commands, "AUTH TLS\r\nUSER hotel\r\nPASS secret\r\nPBSZ 0\r\nPROT P\r\nTYPE I\r\nSYST\r\n"
                               "CWD /in\r\nPASV\r\nSTOR m.xml\r\nSIZE m.xml\r\n");
    EXPECT_EQ(server.dataBytes, 70000u);
    EXPECT_EQ(ftp.TlsDataConnections(), 1);
    EXPECT_EQ(ftp.TlsDataResumed(), 1);
}

// A refused PBSZ stops the log-in with a message that says what was refused,
// before PROT P and before any file.
TEST(TlsMemoryTransportTest, RefusedProtectionBufferSizeIsAClearError) {
    MemoryServer server;
    server.control = "220 hostile\r\n234 go\r\n331 pass\r\n230 in\r\n500 no\r\n";
    TNetFTP ftp;
    PointAtMemoryServer(ftp, server);
    try {
        ftp.ConnectToServer();
        FAIL() << "no error";
    } catch (const ENetTlsError& e) {
        EXPECT_NE(std::string(e.what()).find("PBSZ 0"), std::string::npos) << e.what();
    }
    EXPECT_EQ(server.commands, "AUTH TLS\r\nUSER hotel\r\nPASS secret\r\nPBSZ 0\r\n");
}

}  // namespace
