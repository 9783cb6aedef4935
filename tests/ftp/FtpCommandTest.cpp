// The FTP commands against a scripted server: exact command order, accepted
// codes, passive transfers and their failures.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "ftp/NetExceptions.h"
#include "ftp/commands/NetFTP.h"
#include "tests/ftp/FtpTestHelpers.h"
#include "tests/support/ScriptedFtpServer.h"

using namespace qz::test;
using Action = ScriptStep::Action;
using Commands = std::vector<std::string>;

namespace {

std::vector<ScriptStep> Concat(std::vector<ScriptStep> a, const std::vector<ScriptStep>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const std::vector<ScriptStep> Login = {Answer("331 Password required"), Answer("230 Logged in"),
                                       Answer("200 Type set to I"), Answer("215 UNIX Type: L8")};
const Commands LoginCommands = {"USER hotel", "PASS secret", "TYPE I", "SYST"};

Commands Plus(Commands a, const Commands& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

void Configure(TNetFTP& ftp, const ScriptedFtpServer& server) {
    ftp.SetHost("127.0.0.1");
    ftp.SetPort(server.Port());
    ftp.SetUsername("hotel");
    ftp.SetPassword("secret");
    ftp.SetPassive(true);
    ftp.SetReadTimeout(5000);
}

// Runs `body` on a client connected to a server following `script`; returns
// the error message (empty when none) and leaves the commands in `seen`.
template <typename Body>
std::string RunSession(ScriptedFtpServer& server, Body body) {
    TNetFTP ftp;
    Configure(ftp, server);
    std::string error;
    try {
        body(ftp);
    } catch (const std::exception& e) {
        error = e.what();
    }
    ftp.CloseConnection();
    server.WaitDone();
    return error;
}

struct LoginCase {
    const char* name;
    std::vector<ScriptStep> script;
    std::string user, password;
    Commands commands;
    std::string error;
};

class LoginTest : public testing::TestWithParam<LoginCase> {};

TEST_P(LoginTest, SendsTheLoginSequence) {
    const LoginCase& c = GetParam();
    ScriptedFtpServer server(c.script);
    bool openAfter = false;
    std::string error = RunSession(server, [&](TNetFTP& ftp) {
        ftp.SetUsername(c.user);
        ftp.SetPassword(c.password);
        struct Probe {
            TNetFTP& ftp;
            bool& open;
            ~Probe() { open = ftp.IsOpen(); }
        } probe{ftp, openAfter};
        ftp.ConnectToServer();
    });
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(openAfter, c.error.empty());  // a failed log-in closes the connection
    EXPECT_EQ(server.Commands(), c.commands);  // and never with QUIT
    EXPECT_EQ(server.Failure(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Logins, LoginTest,
    testing::Values(
        LoginCase{"UserAndPassword", Login, "hotel", "secret", LoginCommands, ""},
        LoginCase{"NoPasswordAsked",
                  {Answer("230 Welcome"), Answer("200 ok"), Answer("215 UNIX")}, "hotel", "secret",
                  {"USER hotel", "TYPE I", "SYST"}, ""},
        LoginCase{"SystNotUnderstood",
                  {Answer("331 pw"), Answer("230 ok"), Answer("200 ok"), Answer("500 unknown command")}, "hotel", "secret",
                  LoginCommands, ""},
        LoginCase{"SystAnswered200",
                  {Answer("331 pw"), Answer("230 ok"), Answer("200 ok"), Answer("200 UNIX")}, "hotel", "secret",
                  LoginCommands, ""},
        LoginCase{"SystNotImplemented",
                  {Answer("331 pw"), Answer("230 ok"), Answer("200 ok"), Answer("502 Command not implemented.")},
                  "hotel", "secret", LoginCommands, "Command not implemented.\r\n"},
        LoginCase{"PasswordSuperfluous",
                  {Answer("331 pw"), Answer("202 Already logged in.")}, "hotel", "secret",
                  {"USER hotel", "PASS secret"}, "Already logged in.\r\n"},
        LoginCase{"LoginIncorrect", {Answer("331 pw"), Answer("530 Login incorrect.")}, "hotel", "wrong",
                  {"USER hotel", "PASS wrong"}, "Login incorrect.\r\n"},
        LoginCase{"UserRefused", {Answer("530 Not allowed.")}, "hotel", "secret", {"USER hotel"}, "Not allowed.\r\n"},
        LoginCase{"TypeRefused",
                  {Answer("331 pw"), Answer("230 ok"), Answer("504 Type not supported.")}, "hotel", "secret",
                  {"USER hotel", "PASS secret", "TYPE I"}, "Type not supported.\r\n"},
        LoginCase{"MultiLineRepliesAndGreeting",
                  {Greeting("220-Welcome\r\n220-rules apply\r\n220 ready"), Answer("331-Password\r\n331 please"),
                   Answer("230-Hello\r\n\r\nmotd\r\n230 Logged in"), Answer("200 ok"), Answer("215 UNIX")},
                  "hotel", "secret", LoginCommands, ""},
        LoginCase{"EmptyUserAndPasswordSentAsTheyAre",
                  {Answer("331 pw"), Answer("230 ok"), Answer("200 ok"), Answer("215 UNIX")}, "", "",
                  {"USER ", "PASS ", "TYPE I", "SYST"}, ""},
        LoginCase{"GreetingRefused", {Greeting("421 Service not available")}, "hotel", "secret", {},
                  "Service not available\r\n"}),
    [](const testing::TestParamInfo<LoginCase>& info) { return info.param.name; });

struct FolderCase {
    const char* name;
    std::string reply;
    std::string error;
};

class ChangeFolderTest : public testing::TestWithParam<FolderCase> {};

TEST_P(ChangeFolderTest, AcceptsOnly200And250AndStaysOpen) {
    ScriptedFtpServer server(Concat(Login, {Answer(GetParam().reply)}));
    bool openAfter = false;
    std::string error = RunSession(server, [&](TNetFTP& ftp) {
        ftp.ConnectToServer();
        struct Probe {
            TNetFTP& ftp;
            bool& open;
            ~Probe() { open = ftp.IsOpen(); }
        } probe{ftp, openAfter};
        ftp.ChangeFolder("in/hotel 7");
    });
    EXPECT_EQ(error, GetParam().error);
    EXPECT_TRUE(openAfter);
    EXPECT_EQ(server.Commands(), Plus(LoginCommands, {"CWD in/hotel 7"}));
}

INSTANTIATE_TEST_SUITE_P(Folders, ChangeFolderTest,
                         testing::Values(FolderCase{"Ok250", "250 Directory changed", ""},
                                         FolderCase{"Ok200", "200 ok", ""},
                                         FolderCase{"Missing", "550 No such directory.", "No such directory.\r\n"}),
                         [](const testing::TestParamInfo<FolderCase>& info) { return info.param.name; });

struct StoreCase {
    const char* name;
    std::vector<ScriptStep> script;  // after the log-in
    Commands commands;               // after the log-in
    std::string error;
    bool dataSent;
};

const std::string PasvOk = "227 Entering Passive Mode ({PASV})";

class StoreFileTest : public testing::TestWithParam<StoreCase> {};

TEST_P(StoreFileTest, FollowsTheExchange) {
    const StoreCase& c = GetParam();
    const std::string content = PatternBytes(40000);
    TempFile file(content);
    ScriptedFtpServer server(Concat(Login, c.script));
    std::string error = RunSession(server, [&](TNetFTP& ftp) {
        ftp.ConnectToServer();
        ftp.StoreFile(file.Path(), "0101 26.xml");
    });
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(server.Commands(), Plus(LoginCommands, c.commands));
    EXPECT_EQ(server.Data(), c.dataSent ? content : std::string());
    EXPECT_EQ(server.Failure(), "");
}

const Commands PasvStor = {"PASV", "STOR 0101 26.xml"};

INSTANTIATE_TEST_SUITE_P(
    Stores, StoreFileTest,
    testing::Values(
        StoreCase{"Complete226",
                  {Answer(PasvOk), Answer("150 Ok to send data.", Action::ReceiveData), Unprompted("226 Transfer complete.")},
                  PasvStor, "", true},
        StoreCase{"NoParentheses",
                  {Answer("227 Entering Passive Mode {PASV}"), Answer("125 go", Action::ReceiveData), Unprompted("250 done")},
                  PasvStor, "", true},
        StoreCase{"Reply110And225",
                  {Answer(PasvOk), Answer("110 marker", Action::ReceiveData), Unprompted("225 closing data")},
                  PasvStor, "", true},
        StoreCase{"Aborted426Then226",
                  {Answer(PasvOk), Answer("150 go", Action::ReceiveData), Unprompted("426 Connection closed"),
                   Unprompted("226 Transfer complete")},
                  PasvStor,
                  "0101 26.xml is not confirmed on the server: it answered the transfer with \"426 Connection "
                  "closed\", then \"226 Transfer complete\".",
                  true},
        StoreCase{"Aborted426Then451",
                  {Answer(PasvOk), Answer("150 go", Action::ReceiveData), Unprompted("426 Connection closed"),
                   Unprompted("451 Local error")},
                  PasvStor,
                  "0101 26.xml is not confirmed on the server: it answered the transfer with \"426 Connection "
                  "closed\", then \"451 Local error\".",
                  true},
        StoreCase{"FinalRefused",
                  {Answer(PasvOk), Answer("150 go", Action::ReceiveData), Unprompted("552 Quota exceeded")},
                  PasvStor, "Quota exceeded\r\n", true},
        StoreCase{"StorRefused",
                  {Answer(PasvOk), Answer("553 Could not create file.", Action::ReceiveData)},
                  PasvStor, "Could not create file.\r\n", false},
        StoreCase{"PasvRefused", {Answer("500 PASV not understood")}, {"PASV"}, "PASV not understood\r\n", false},
        StoreCase{"PasvBadPortNumber", {Answer("227 Entering Passive Mode (127,0,0,1,x1,2)")}, {"PASV"},
                  "'x1' is not a valid integer value", false},
        StoreCase{"PasvMissingPort", {Answer("227 Entering Passive Mode (127,0,0,1,7)")}, {"PASV"},
                  "'' is not a valid integer value", false},
        StoreCase{"MultiLineFinalReply",
                  {Answer(PasvOk), Answer("150 go", Action::ReceiveData), Unprompted("226-Transfer complete\r\n226 Bye")},
                  PasvStor, "", true}),
    [](const testing::TestParamInfo<StoreCase>& info) { return info.param.name; });

class PassiveAddressTest : public testing::TestWithParam<std::string> {};

TEST_P(PassiveAddressTest, DataGoesToTheControlPeerWhateverTheReplyNames) {
    const std::string content = PatternBytes(5000);
    TempFile file(content);
    ScriptedFtpServer server(Concat(Login, {Answer(PasvOk), Answer("150 go", Action::ReceiveData), Unprompted("226 ok")}),
                             GetParam());
    std::string named;
    std::string error = RunSession(server, [&](TNetFTP& ftp) {
        ftp.ConnectToServer();
        ftp.StoreFile(file.Path(), "a.xml");
        named = ftp.LastPassiveAddress().Address;
    });
    EXPECT_EQ(error, "");
    EXPECT_EQ(named, GetParam());
    EXPECT_EQ(server.DataLocalAddress(), "127.0.0.1");
    EXPECT_EQ(server.Data(), content);
}

INSTANTIATE_TEST_SUITE_P(Passive, PassiveAddressTest,
                         testing::Values("127.0.0.1", "127.0.0.2", "10.1.2.3", "192.168.1.2", "0.0.0.0"));

TEST(StoreFileTest, MissingLocalFileSendsNothing) {
    ScriptedFtpServer server(Login);
    const std::string missing = "/nonexistent/qz/0101 26.xml";
    std::string error = RunSession(server, [&](TNetFTP& ftp) {
        ftp.ConnectToServer();
        EXPECT_THROW(ftp.StoreFile(missing, "a.xml"), EFOpenError);
        ftp.StoreFile(missing, "a.xml");
    });
    EXPECT_EQ(error, "Cannot open file " + missing);
    EXPECT_EQ(server.Commands(), LoginCommands);
}

struct LocalEntryCase {
    const char* name;
    std::function<void(const std::string& path, const std::string& target)> make;
    std::string suffix;
};

class LocalEntryTest : public testing::TestWithParam<LocalEntryCase> {};

// Only regular files are sent: a FIFO must not block the open, a link is
// never followed (whatever it points at), and nothing is sent for either.
TEST_P(LocalEntryTest, OnlyARegularFileIsOpened) {
    TempFile outside(PatternBytes(100), "passwd");
    TempFile folder("", "other.xml");
    const std::string path = folder.Dir() + "/0101 26.xml";
    GetParam().make(path, outside.Path());
    ScriptedFtpServer server(Login);
    std::string error = RunSession(server, [&](TNetFTP& ftp) {
        ftp.ConnectToServer();
        ftp.StoreFile(path, "0101 26.xml");
    });
    EXPECT_EQ(error, "Cannot open file " + path + GetParam().suffix);
    EXPECT_EQ(server.Commands(), LoginCommands);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, LocalEntryTest,
    testing::Values(
        LocalEntryCase{"Fifo", [](const std::string& p, const std::string&) { ASSERT_EQ(MakeFifo(p), 0); },
                       ": not a regular file"},
        LocalEntryCase{"Folder", [](const std::string& p, const std::string&) { ASSERT_EQ(MakeFolder(p), 0); },
                       ": not a regular file"},
        LocalEntryCase{"LinkOutside",
                       [](const std::string& p, const std::string& t) { ASSERT_EQ(MakeSymlink(t, p), 0); },
                       ": a symbolic link is not sent"},
        LocalEntryCase{"LinkBeside",
                       [](const std::string& p, const std::string&) { ASSERT_EQ(MakeSymlink("other.xml", p), 0); },
                       ": a symbolic link is not sent"},
        LocalEntryCase{"DanglingLink",
                       [](const std::string& p, const std::string&) { ASSERT_EQ(MakeSymlink("gone.xml", p), 0); },
                       ": a symbolic link is not sent"}),
    [](const testing::TestParamInfo<LocalEntryCase>& info) { return info.param.name; });

TEST(StoreFileTest, RefusedDataConnectionLeavesTheStorReplyUnread) {
    TempFile file("data");
    LoopbackPort closed(LoopbackPort::Mode::Refusing);
    std::string pasv = "227 Entering Passive Mode (127,0,0,1," + std::to_string(closed.Port() / 256) + "," +
                       std::to_string(closed.Port() % 256) + ")";
    ScriptedFtpServer server(Concat(Login, {Answer(pasv), Answer("150 go"), Answer("213 4")}));
    long long size = 0;
    std::string error = RunSession(server, [&](TNetFTP& ftp) {
        ftp.ConnectToServer();
        try {
            ftp.StoreFile(file.Path(), "a.xml");
        } catch (const ENetConnectException& e) {
            EXPECT_EQ(std::string(e.what()), "Socket Error # 10061\r\nConnection refused.");
        }
        EXPECT_TRUE(ftp.IsOpen());
        // The unread "150" is what the next command gets.
        size = ftp.RemoteFileSize("a.xml");
    });
    EXPECT_EQ(error, "");
    EXPECT_EQ(size, -1);
    EXPECT_EQ(server.Commands(), Plus(LoginCommands, {"PASV", "STOR a.xml", "SIZE a.xml"}));
}

struct WorkCase {
    std::size_t size;
    std::size_t progressEvents;
};

class WorkNotificationTest : public testing::TestWithParam<WorkCase> {};

TEST_P(WorkNotificationTest, OneBeginOneProgressPerSendOneEnd) {
    const std::string content = PatternBytes(GetParam().size);
    TempFile file(content);
    ScriptedFtpServer server(Concat(Login, {Answer(PasvOk), Answer("150 go", Action::ReceiveData), Unprompted("226 ok")}));
    std::vector<long long> begins, progress;
    int ends = 0;
    bool senderIsData = true;
    std::string error = RunSession(server, [&](TNetFTP& ftp) {
        ftp.OnWorkBegin = [&](TNetComponent& sender, TWorkMode mode, long long max) {
            EXPECT_EQ(mode, TWorkMode::wmWrite);
            senderIsData = senderIsData && &sender != &ftp;
            begins.push_back(max);
        };
        ftp.OnWork = [&](TNetComponent& sender, TWorkMode, long long count) {
            senderIsData = senderIsData && &sender != &ftp;
            progress.push_back(count);
        };
        ftp.OnWorkEnd = [&](TNetComponent&, TWorkMode) { ++ends; };
        ftp.ConnectToServer();
        ftp.StoreFile(file.Path(), "a.xml");
    });
    EXPECT_EQ(error, "");
    EXPECT_EQ(begins, std::vector<long long>{static_cast<long long>(GetParam().size)});
    EXPECT_EQ(progress.size(), GetParam().progressEvents);
    if (!progress.empty()) {
        EXPECT_EQ(progress.back(), static_cast<long long>(GetParam().size));
    }
    EXPECT_EQ(ends, 1);
    EXPECT_TRUE(senderIsData);
    EXPECT_EQ(server.Data(), content);
}

INSTANTIATE_TEST_SUITE_P(Sizes, WorkNotificationTest,
                         testing::Values(WorkCase{0, 0}, WorkCase{1, 1}, WorkCase{32767, 1}, WorkCase{32768, 1},
                                         WorkCase{32769, 2}, WorkCase{100000, 4}));

TEST(StoreFileTest, ErrorOfTheEndHandlerReplacesTheTransferOutcome) {
    TempFile file(PatternBytes(70000));
    ScriptedFtpServer server(Concat(Login, {Answer(PasvOk), Answer("150 go", Action::ReceiveData), Unprompted("226 ok")}));
    std::string error = RunSession(server, [&](TNetFTP& ftp) {
        ftp.OnWorkEnd = [](TNetComponent&, TWorkMode) { throw EInOutError("audit log is read-only"); };
        ftp.ConnectToServer();
        struct Probe {
            TNetFTP& ftp;
            ~Probe() { EXPECT_TRUE(ftp.IsOpen()); }
        } probe{ftp};
        ftp.StoreFile(file.Path(), "a.xml");
    });
    EXPECT_EQ(error, "audit log is read-only");
    // The data connection was still closed, so the server got the whole file.
    EXPECT_EQ(server.Data().size(), 70000u);
    EXPECT_EQ(server.DataConnections(), 1);
}

struct SizeCase {
    const char* name;
    std::string reply;
    long long size;
};

class RemoteFileSizeTest : public testing::TestWithParam<SizeCase> {};

TEST_P(RemoteFileSizeTest, ReadsOnly213) {
    ScriptedFtpServer server(Concat(Login, {Answer(GetParam().reply)}));
    long long size = 0;
    std::string error = RunSession(server, [&](TNetFTP& ftp) {
        ftp.ConnectToServer();
        size = ftp.RemoteFileSize("0101 26.xml");
    });
    EXPECT_EQ(error, "");
    EXPECT_EQ(size, GetParam().size);
    EXPECT_EQ(server.Commands(), Plus(LoginCommands, {"SIZE 0101 26.xml"}));
}

INSTANTIATE_TEST_SUITE_P(Sizes, RemoteFileSizeTest,
                         testing::Values(SizeCase{"Size", "213 1024", 1024}, SizeCase{"Zero", "213 0", 0},
                                         SizeCase{"Huge", "213 5000000000", 5000000000LL},
                                         SizeCase{"Refused", "550 Could not get file size.", -1},
                                         SizeCase{"NotANumber", "213 unknown", -1},
                                         SizeCase{"MultiLine", "213-size\r\n213 50000", 50000},
                                         SizeCase{"Negative", "213 -5", -1}, SizeCase{"Exponent", "213 1e9", -1},
                                         SizeCase{"Past64Bits", "213 99999999999999999999", -1},
                                         SizeCase{"Hex", "213 0x10", -1}, SizeCase{"WithUnit", "213 50000 bytes", -1},
                                         SizeCase{"NotImplemented", "502 no", -1}),
                         [](const testing::TestParamInfo<SizeCase>& info) { return info.param.name; });

TEST(FtpSessionTest, WholeRunEndsWithoutQuit) {
    TempFile a(PatternBytes(10)), b(PatternBytes(0));
    ScriptedFtpServer server(Concat(Login, {Answer("250 ok"), Answer(PasvOk), Answer("150 go", Action::ReceiveData),
                                            Unprompted("226 ok"), Answer("213 10"), Answer(PasvOk),
                                            Answer("150 go", Action::ReceiveData), Unprompted("226 ok"), Answer("213 0")}));
    std::vector<long long> sizes;
    std::string error = RunSession(server, [&](TNetFTP& ftp) {
        ftp.ConnectToServer();
        ftp.ChangeFolder("/in");
        ftp.StoreFile(a.Path(), "a.xml");
        sizes.push_back(ftp.RemoteFileSize("a.xml"));
        ftp.StoreFile(b.Path(), "b.xml");
        sizes.push_back(ftp.RemoteFileSize("b.xml"));
    });
    EXPECT_EQ(error, "");
    EXPECT_EQ(sizes, (std::vector<long long>{10, 0}));
    EXPECT_EQ(server.Commands(), Plus(LoginCommands, {"CWD /in", "PASV", "STOR a.xml", "SIZE a.xml", "PASV",
                                                      "STOR b.xml", "SIZE b.xml"}));
    EXPECT_EQ(server.DataConnections(), 2);
}

}  // namespace
