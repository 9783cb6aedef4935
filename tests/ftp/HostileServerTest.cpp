// Hostile servers and hostile input: each case ends in a clear error of the
// network family, in bounded time (short read time-outs) and bounded memory,
// and a refused command never reaches the server.
#include <gtest/gtest.h>

#include <functional>

#include "ftp/NetExceptions.h"
#include "ftp/commands/NetFTP.h"
#include "tests/ftp/FtpTestHelpers.h"
#include "tests/support/ScriptedFtpServer.h"

using namespace qz::test;
using Action = ScriptStep::Action;
using Commands = std::vector<std::string>;

namespace {

const std::vector<ScriptStep> Login = {Greeting("220 ready"), Answer("331 Password required"), Answer("230 Logged in"),
                                       Answer("200 Type set to I"), Answer("215 UNIX Type: L8")};
const Commands LoginCommands = {"USER hotel", "PASS secret", "TYPE I", "SYST"};
const std::string PasvOk = "227 Entering Passive Mode ({PASV})";

std::vector<ScriptStep> After(const std::vector<ScriptStep>& first, const std::vector<ScriptStep>& then) {
    std::vector<ScriptStep> all = first;
    all.insert(all.end(), then.begin(), then.end());
    return all;
}
Commands Plus(Commands a, const Commands& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

using Body = std::function<void(TNetFTP&, const std::string& localFile)>;

struct HostileCase {
    const char* name;
    std::vector<ScriptStep> script;
    Body body;
    std::string error;    // the message, exactly
    Commands commands;    // every line the server received
    bool controlOpen;     // the control connection after the error
    std::size_t fileSize = 1000;
    bool connects = true;  // false: refused before the client connects
    int readTimeoutMs = 400;
};

void Connect(TNetFTP& ftp, const std::string&) { ftp.ConnectToServer(); }
Body LogInThen(std::function<void(TNetFTP&, const std::string&)> then) {
    return [then](TNetFTP& ftp, const std::string& file) {
        ftp.ConnectToServer();
        then(ftp, file);
    };
}
Body WithLogin(std::string user, std::string password) {
    return [user, password](TNetFTP& ftp, const std::string&) {
        ftp.SetUsername(user);
        ftp.SetPassword(password);
        ftp.ConnectToServer();
    };
}

class HostileServerTest : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileServerTest, EndsInAClearErrorAndSendsNothingInjected) {
    const HostileCase& c = GetParam();
    TempFile file(std::string(c.fileSize, 'x'));
    ScriptedFtpServer server(c.script);
    TNetFTP ftp;
    ftp.SetHost("127.0.0.1");
    ftp.SetPort(server.Port());
    ftp.SetUsername("hotel");
    ftp.SetPassword("secret");
    ftp.SetPassive(true);
    ftp.SetReadTimeout(c.readTimeoutMs);
    std::string error;
    bool networkError = false;
    try {
        c.body(ftp, file.Path());
    } catch (const ENetException& e) {
        error = e.what();
        networkError = true;
    } catch (const std::exception& e) {
        error = e.what();
    }
    EXPECT_EQ(error, c.error);
    EXPECT_TRUE(networkError);
    EXPECT_EQ(ftp.IsOpen(), c.controlOpen);
    ftp.CloseConnection();
    if (c.connects) server.WaitDone();
    EXPECT_EQ(server.Commands(), c.commands);
}

const std::string Refused = "Command refused (a line break or NUL in it): ";
const std::string FloodLine = std::string(1000, 'm') + "\r\n";
const std::string Html = "<a href=\"http://evil.example/\">Click <b>here</b></a>";

INSTANTIATE_TEST_SUITE_P(
    Hostile, HostileServerTest,
    testing::Values(
        // The server accepts the data connection and never reads: no byte
        // moves, and the send gives up after the read time-out.
        HostileCase{"StalledDataConnection",
                    After(Login, {Answer(PasvOk), Answer("150 go", Action::HoldData), Unprompted("226 never")}),
                    LogInThen([](TNetFTP& ftp, const std::string& file) { ftp.StoreFile(file, "a.xml"); }),
                    "Socket Error # 10060\r\nConnection timed out.", Plus(LoginCommands, {"PASV", "STOR a.xml"}), true,
                    32u << 20},
        // Time enough for the size bound to act first, however slow the build.
        HostileCase{"EndlessGreeting", {ScriptStep{false, "220-" + FloodLine, Action::Flood}}, Connect,
                    "Reply too long (more than 1048576 bytes).", {}, false, 1000, true, 20000},
        HostileCase{"EndlessReplyToUser", After({Greeting("220 ready")}, {RawAnswer("331-" + FloodLine, Action::Flood)}),
                    Connect, "Reply too long (more than 1048576 bytes).", {"USER hotel"}, false, 1000, true, 20000},
        HostileCase{"TricklingGreeting",
                    {Greeting("220-hello"), ScriptStep{false, "\r\n", Action::Trickle}}, Connect,
                    "Reply not complete within the read time-out.", {}, false},
        HostileCase{"TricklingBlankLines", {ScriptStep{false, "\r\n", Action::Trickle}}, Connect,
                    "Reply not complete within the read time-out.", {}, false},
        HostileCase{"TricklingCwdReply",
                    After(Login, {RawAnswer("250-ok\r\n", Action::None), ScriptStep{false, " \r\n", Action::Trickle}}),
                    LogInThen([](TNetFTP& ftp, const std::string&) { ftp.ChangeFolder("in"); }),
                    "Reply not complete within the read time-out.", Plus(LoginCommands, {"CWD in"}), false},
        HostileCase{"InjectedStorName", Login,
                    LogInThen([](TNetFTP& ftp, const std::string& file) {
                        ftp.StoreFile(file, "a\r\nDELE victim 010126.xml");
                    }),
                    Refused + "STOR a<CR><LF>DELE victim 010126.xml", LoginCommands, true},
        HostileCase{"InjectedSizeName", Login,
                    LogInThen([](TNetFTP& ftp, const std::string&) { ftp.RemoteFileSize("a\nDELE victim"); }),
                    Refused + "SIZE a<LF>DELE victim", LoginCommands, true},
        HostileCase{"NulInName", Login,
                    LogInThen([](TNetFTP& ftp, const std::string& file) {
                        ftp.StoreFile(file, std::string("a\0b.xml", 7));
                    }),
                    Refused + "STOR a<NUL>b.xml", LoginCommands, true},
        HostileCase{"InjectedUser", Login, WithLogin("hotel\r\nDELE victim", "secret"),
                    Refused + "USER hotel<CR><LF>DELE victim", {}, false, 1000, false},
        HostileCase{"InjectedPassword", Login, WithLogin("hotel", "pw\r\nDELE victim"), Refused + "PASS <password>", {},
                    false, 1000, false},
        HostileCase{"InjectedFolder", Login,
                    LogInThen([](TNetFTP& ftp, const std::string&) { ftp.ChangeFolder("in\rDELE victim"); }),
                    Refused + "CWD in<CR>DELE victim", LoginCommands, true},
        // Reply text is carried as it is; showing it safely is the window's
        // business.
        HostileCase{"HtmlInReply", After(Login, {Answer("550 " + Html)}),
                    LogInThen([](TNetFTP& ftp, const std::string&) { ftp.ChangeFolder("in"); }), Html + "\r\n",
                    Plus(LoginCommands, {"CWD in"}), true}),
    [](const testing::TestParamInfo<HostileCase>& info) { return info.param.name; });

}  // namespace
