// The upload run without a screen: a fake window, real tables in a temporary
// program folder, and a real vsftpd or a scripted server on loopback.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "UploadFixture.h"
#include "data/table/TableText.h"
#include "data/local/LocalTables.h"
#include "data/table/DbfTable.h"
#include "data/values/DateTime.h"
#include "rtl/Exceptions.h"
#include "rtl/Utf8Path.h"
#include "scan/ExtractScan.h"
#include "tests/support/FtpServers.h"
#include "tests/support/ScriptedFtpServer.h"
#include "upload/AuditWriter.h"
#include "upload/FolderLock.h"
#include "upload/ProgramSetup.h"

namespace fs = std::filesystem;
using namespace qz::test;
using Action = ScriptStep::Action;

namespace {

// A reply sent without waiting for a command (the end of a transfer).
ScriptStep Reply(const std::string& text) { return ScriptStep{false, text + "\r\n", Action::None}; }

std::vector<ScriptStep> LogIn() {
    return {Answer("331 Please specify the password."), Answer("230 Login successful."),
            Answer("200 Switching to Binary mode."), Answer("215 UNIX Type: L8")};
}

// One file stored; SIZE answered with `sizeReply`.
void AppendStore(std::vector<ScriptStep>& script, const std::string& sizeReply) {
    script.push_back(Answer("227 Entering Passive Mode ({PASV})."));
    script.push_back(Answer("150 Ok to send data.", Action::ReceiveData));
    script.push_back(Reply("226 Transfer complete."));
    script.push_back(Answer(sizeReply));
}

// The log-in and one four-byte file stored.
std::vector<ScriptStep> LogInAndStoreOne() {
    std::vector<ScriptStep> script = LogIn();
    AppendStore(script, "213 4");
    return script;
}

std::string Bytes(std::size_t count, unsigned seed) {
    std::string out(count, '\0');
    for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<char>((i * 131 + seed * 7) & 0xFF);
    return out;
}

// The login file names the scripted server on loopback, no remote folder.
void LogInTo(UploadBench& bench, const ScriptedFtpServer& server) {
    bench.ftp.SetPort(server.Port());
    bench.WriteLogin("127.0.0.1", "u", "p", "");
}

// Nothing changed in the file log or LASTCOPY; buttons as after an error.
void ExpectStoppedByError(const UploadBench& bench) {
    EXPECT_TRUE(bench.FileLogRows().empty());
    EXPECT_EQ(bench.LastCopyText(), "");
    EXPECT_FALSE(bench.view.uploadEnabled);
    EXPECT_FALSE(bench.view.quitEnabled);
    EXPECT_TRUE(bench.view.progressVisible);
    EXPECT_TRUE(bench.view.messages.empty());
}

}  // namespace

// ---- a real server ----------------------------------------------------------

class UploadRunRealServer : public ::testing::TestWithParam<FtpServerKind> {};

TEST_P(UploadRunRealServer, ThreeFilesSentMarkedAndLogged) {
    if (!FtpServerAvailable(GetParam())) GTEST_SKIP() << FtpServerKindName(GetParam()) << " not installed";
    RealFtpServer server(GetParam());
    fs::create_directories(server.RootDir() + "/incoming");
    UploadBench bench;
    bench.ftp.SetPort(server.Port());
    bench.WriteLogin(" 127.0.0.1", server.User(), server.Password(), "incoming");
    const std::vector<std::pair<std::string, std::string>> files = {
        {"SALES120926.xml", Bytes(70000, 1)},   // more than two send buffers
        {"ROOMS120926.xml", std::string()},     // empty
        {"GUEST120926.xml", Bytes(1000, 3)}};
    for (const auto& [name, bytes] : files) bench.AddFile(name, bytes);

    EXPECT_EQ(bench.Run(), "");

    for (const auto& [name, bytes] : files) {
        const std::string stored = ReadWholeFile(server.RootDir() + "/incoming/" + name);
        EXPECT_TRUE(stored == bytes) << name << ": " << stored.size() << " bytes stored of " << bytes.size();
    }
    EXPECT_EQ(bench.view.messages, (std::vector<std::string>{"All Finished!"}));
    EXPECT_FALSE(bench.view.uploadEnabled);
    EXPECT_TRUE(bench.view.quitEnabled);
    EXPECT_EQ(bench.view.bar.TotalParts(), 3);
    EXPECT_EQ(bench.view.bar.PartsComplete(), 3);
    EXPECT_EQ(bench.view.status, "Upload Complete!");
    EXPECT_EQ(bench.view.statusLog,
              (std::vector<std::string>{"Uploading SALES120926.xml [painted]", "Upload Complete!",
                                        "Uploading ROOMS120926.xml [painted]", "Upload Complete!",
                                        "Uploading GUEST120926.xml [painted]", "Upload Complete!"}));

    const auto audit = bench.AuditRows();
    ASSERT_EQ(audit.size(), 4u);
    const std::vector<std::string> names = {"", "SALES120926.xml", "ROOMS120926.xml", "GUEST120926.xml"};
    const std::vector<std::string> transfered = {"0", "0", "1", "2"};
    for (std::size_t i = 0; i < audit.size(); ++i) {
        EXPECT_EQ(audit[i].date, TodayYmd());
        EXPECT_EQ(audit[i].host, " 127.0.0.1");     // untrimmed, as read
        EXPECT_EQ(audit[i].fileName, names[i]);
        EXPECT_EQ(audit[i].transfered, transfered[i]);
        EXPECT_EQ(audit[i].uploadedBy, "XXX");
        EXPECT_EQ(audit[i].time.size(), 8u) << audit[i].time;
    }

    const auto logged = bench.FileLogRows();
    ASSERT_EQ(logged.size(), 3u);
    for (std::size_t i = 0; i < logged.size(); ++i) {
        EXPECT_EQ(logged[i].fileName, files[i].first);
        EXPECT_EQ(logged[i].copied, "YES");
        EXPECT_EQ(logged[i].date, TodayYmd());
        EXPECT_EQ(logged[i].filCreated, "20261209");
    }
    EXPECT_EQ(bench.LastCopyText(), TodayYmd());
}

// (vsftpd only: pyftpdlib holds a refused log-in back for seconds.)
TEST(UploadRunVsftpd, UnknownUserStopsAfterOneAuditRow) {
    if (!FtpServerAvailable(FtpServerKind::Vsftpd)) GTEST_SKIP() << "vsftpd not installed";
    RealFtpServer server(FtpServerKind::Vsftpd);
    UploadBench bench;
    bench.ftp.SetPort(server.Port());
    // A user the server does not know: it refuses the log-in.
    bench.WriteLogin("127.0.0.1", "nobody-here", "wrong", "");
    bench.AddFile("SALES120926.xml", "x");
    const std::string error = bench.Run();
    EXPECT_FALSE(error.empty());
    ExpectStoppedByError(bench);
    EXPECT_EQ(bench.AuditRows().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Servers, UploadRunRealServer,
                         ::testing::Values(FtpServerKind::Vsftpd, FtpServerKind::Pyftpdlib),
                         [](const auto& info) { return std::string(FtpServerKindName(info.param)); });

// ---- no login file -----------------------------------------------------------

struct NoLoginCase {
    std::string name;
    int rows;
    std::vector<std::string> messages;
};
class UploadRunNoLogin : public ::testing::TestWithParam<NoLoginCase> {};
TEST_P(UploadRunNoLogin, MessagesAndNothingElse) {
    UploadBench bench;
    for (int i = 0; i < GetParam().rows; ++i) bench.AddFile("F" + std::to_string(i) + "120926.xml", "x");
    bench.ftpHost = "earlier";   // working values keep what they had
    EXPECT_EQ(bench.Run(), "");
    EXPECT_EQ(bench.view.messages, GetParam().messages);
    EXPECT_EQ(bench.ftpHost, "earlier");
    EXPECT_TRUE(bench.AuditRows().empty());
    EXPECT_TRUE(bench.FileLogRows().empty());
    EXPECT_FALSE(bench.view.uploadEnabled);
    EXPECT_FALSE(bench.view.quitEnabled);
    EXPECT_TRUE(bench.view.progressVisible);
    EXPECT_EQ(bench.view.bar.PartsComplete(), 0);
    EXPECT_EQ(bench.view.status, "Last Date Files Were Copied:");
}
INSTANTIATE_TEST_SUITE_P(Cases, UploadRunNoLogin, ::testing::Values(
    NoLoginCase{"EmptyList", 0, {"Not Enough Login Information To Upload!", "No Files To Copy!"}},
    NoLoginCase{"FilledList", 2, {"Not Enough Login Information To Upload!"}}),
    [](const auto& info) { return info.param.name; });

TEST(UploadRunNoLogin, FolderNamedLikeTheLoginFileDoesNotCount) {
    UploadBench bench;
    fs::create_directory(bench.programFolder + bench.locationCode + ".DAT");
    EXPECT_EQ(bench.Run(), "");
    EXPECT_EQ(bench.view.messages.front(), "Not Enough Login Information To Upload!");
}

// ---- scripted server: the exchange and the failures ------------------------

TEST(UploadRunScripted, EmptyListConnectsStampsAndTellsBoth) {
    std::vector<ScriptStep> script = LogIn();
    script.push_back(Answer("250 Directory successfully changed."));
    ScriptedFtpServer server(script);
    UploadBench bench;
    bench.ftp.SetPort(server.Port());
    bench.WriteLogin("127.0.0.1", "hotel", "secret", "/in");
    EXPECT_EQ(bench.Run(), "");
    server.WaitDone();
    EXPECT_EQ(server.Failure(), "");
    EXPECT_EQ(server.Commands(),
              (std::vector<std::string>{"USER hotel", "PASS secret", "TYPE I", "SYST", "CWD /in"}));
    EXPECT_EQ(bench.view.messages, (std::vector<std::string>{"All Finished!", "No Files To Copy!"}));
    EXPECT_TRUE(bench.view.quitEnabled);
    EXPECT_EQ(bench.LastCopyText(), TodayYmd());
    EXPECT_EQ(bench.AuditRows().size(), 1u);
}

TEST(UploadRunScripted, ExchangeInRowOrderWithoutCwdOrQuit) {
    std::vector<ScriptStep> script = LogIn();
    for (int i = 0; i < 3; ++i) AppendStore(script, "213 " + std::to_string(i + 1));
    ScriptedFtpServer server(script);
    UploadBench bench;
    bench.ftp.SetPort(server.Port());
    bench.WriteLogin("127.0.0.1", "hotel", "secret", "");   // blank folder: no CWD
    bench.AddFile("B120926.xml", "b");
    bench.AddFile("A120926.xml", "aa");
    bench.AddFile("C120926.xml", "ccc");
    EXPECT_EQ(bench.Run(), "");
    server.WaitDone();
    EXPECT_EQ(server.Failure(), "");
    EXPECT_EQ(server.Commands(),
              (std::vector<std::string>{"USER hotel", "PASS secret", "TYPE I", "SYST", "PASV", "STOR B120926.xml",
                                        "SIZE B120926.xml", "PASV", "STOR A120926.xml", "SIZE A120926.xml", "PASV",
                                        "STOR C120926.xml", "SIZE C120926.xml"}));
    EXPECT_EQ(server.Data(), "baaccc");
    EXPECT_EQ(bench.FileLogRows().size(), 3u);
}

TEST(UploadRunScripted, FileSentAgainUpdatesItsRecordInPlace) {
    std::vector<ScriptStep> script = LogIn();
    AppendStore(script, "213 1");
    AppendStore(script, "213 1");
    ScriptedFtpServer server(script);
    UploadBench bench;
    LogInTo(bench, server);
    bench.AddFile("SAME120926.xml", "s");
    bench.ListOnly("SAME120926.xml");
    EXPECT_EQ(bench.Run(), "");
    const auto logged = bench.FileLogRows();
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].copied, "YES");
}

// How each failure is scripted, and what the run must say.
struct FailureCase {
    std::string name;
    std::vector<ScriptStep> afterLogIn;   // steps after the log-in (or replacing it)
    bool replaceLogIn;
    std::string remoteFolder;
    int missingFile;                      // index of a listed file not on disk, -1 none
    std::string message;                  // part of the error's text
    std::size_t auditRows;
    int partsComplete;
    std::string status;
};

class UploadRunFailure : public ::testing::TestWithParam<FailureCase> {};
TEST_P(UploadRunFailure, StopsWithMessageAndMarksNothing) {
    const FailureCase& c = GetParam();
    std::vector<ScriptStep> script = c.replaceLogIn ? std::vector<ScriptStep>{} : LogIn();
    script.insert(script.end(), c.afterLogIn.begin(), c.afterLogIn.end());
    ScriptedFtpServer server(script);
    UploadBench bench;
    bench.ftp.SetPort(server.Port());
    bench.ftp.SetReadTimeout(300);   // only the time-out case waits for it
    bench.WriteLogin("127.0.0.1", "hotel", "secret", c.remoteFolder);
    for (int i = 0; i < 3; ++i) {
        const std::string name = "F" + std::to_string(i) + "120926.xml";
        if (i == c.missingFile) bench.ListOnly(name);
        else bench.AddFile(name, std::string(10, static_cast<char>('a' + i)));
    }
    const std::string error = bench.Run();
    EXPECT_NE(error.find(c.message), std::string::npos) << "error: " << error;
    ExpectStoppedByError(bench);
    EXPECT_EQ(bench.AuditRows().size(), c.auditRows);
    EXPECT_EQ(bench.view.bar.PartsComplete(), c.partsComplete);
    EXPECT_EQ(bench.view.status, c.status);
}

std::vector<ScriptStep> StoreOk(const std::string& size = "213 10") {
    std::vector<ScriptStep> s;
    AppendStore(s, size);
    return s;
}
std::vector<ScriptStep> Join(std::vector<std::vector<ScriptStep>> parts) {
    std::vector<ScriptStep> all;
    for (auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}
const std::string kIdle = "Last Date Files Were Copied:";

INSTANTIATE_TEST_SUITE_P(Cases, UploadRunFailure, ::testing::Values(
    FailureCase{"LogInRefused", {Answer("331 Password?"), Answer("530 Login incorrect.")}, true, "", -1,
                "Login incorrect.", 1, 0, kIdle},
    FailureCase{"CwdRefused", {Answer("550 Failed to change directory.")}, false, "nowhere", -1,
                "Failed to change directory.", 1, 0, kIdle},
    FailureCase{"SecondStorRefused",
                Join({StoreOk(), {Answer("227 Entering Passive Mode ({PASV})."),
                                  Answer("553 Could not create file.")}}),
                false, "", -1, "The server refused F1120926.xml: Could not create file.", 2, 1, "Uploading F1120926.xml"},
    FailureCase{"ListedFileGone", StoreOk(), false, "", 1, "Cannot open file ", 2, 1,
                "Uploading F1120926.xml"},
    FailureCase{"ReadTimeout", {Answer("331 Password?", Action::Silent)}, true, "", -1, "Read Timeout", 1, 0,
                kIdle},
    FailureCase{"PasvRefusedAndClosed", Join({StoreOk(), {Answer("421 Bye.", Action::CloseControl)}}), false,
                "", -1, "Bye.", 2, 1, "Uploading F1120926.xml"},
    FailureCase{"SizeMismatch", Join({StoreOk(), StoreOk("213 7")}), false, "", -1,
                "The server holds 7 bytes of F1120926.xml, but 10 were sent.", 3, 1, "Upload Complete!"}),
    [](const auto& info) { return info.param.name; });

// How one store ends, and whether the file may count as stored: only a
// completion reply and, unless the login file says confirm=226, a SIZE equal
// to the bytes sent. Every other ending names the file and the reply, marks
// nothing and stops the run.
struct ConfirmCase {
    std::string name;
    std::string options;                 // after column 100 of the login file
    std::vector<std::string> finalReplies;
    std::string sizeReply;               // empty: no SIZE expected
    std::string error;                   // empty: confirmed and marked
};

class UploadRunConfirm : public ::testing::TestWithParam<ConfirmCase> {};
TEST_P(UploadRunConfirm, MarksOnlyAConfirmedStore) {
    const ConfirmCase& c = GetParam();
    std::vector<ScriptStep> script = LogIn();
    script.push_back(Answer("227 Entering Passive Mode ({PASV})."));
    script.push_back(Answer("150 Ok to send data.", Action::ReceiveData));
    for (const std::string& reply : c.finalReplies) script.push_back(Reply(reply));
    if (!c.sizeReply.empty()) script.push_back(Answer(c.sizeReply));
    ScriptedFtpServer server(script);
    UploadBench bench;
    bench.loginOptions = c.options;
    LogInTo(bench, server);
    bench.AddFile("F0120926.xml", std::string(10, 'a'));
    const std::string error = bench.Run();

    EXPECT_EQ(error, c.error);
    EXPECT_EQ(server.Failure(), "");
    EXPECT_EQ(server.Data(), std::string(10, 'a'));
    const auto commands = server.Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "SIZE F0120926.xml"), c.sizeReply.empty() ? 0 : 1);
    const auto audit = bench.AuditRows();
    ASSERT_EQ(audit.size(), 2u);
    // The audit rows tell which rule the run's stores were held to.
    for (const auto& row : audit) EXPECT_EQ(row.uploadedBy, c.options.empty() ? "XXX" : "226");
    if (c.error.empty()) {
        EXPECT_EQ(bench.view.messages, (std::vector<std::string>{"All Finished!"}));
        ASSERT_EQ(bench.FileLogRows().size(), 1u);
        EXPECT_EQ(bench.FileLogRows()[0].copied, "YES");
    } else {
        ExpectStoppedByError(bench);
    }
}

const std::string kDone = "226 Transfer complete.";
std::string NotConfirmed(const std::string& exchange, const std::string& replies) {
    return "F0120926.xml is not confirmed on the server: it answered " + exchange + " with " + replies + ".";
}

INSTANTIATE_TEST_SUITE_P(Cases, UploadRunConfirm, ::testing::Values(
    ConfirmCase{"SizeEqual", "", {kDone}, "213 10", ""},
    ConfirmCase{"SizeMultiLine", "", {kDone}, "213-size\r\n213 10", ""},
    // an inner line that begins with a blank is text: the last line holds the size
    ConfirmCase{"SizeMultiLineInnerLineWithABlank", "", {kDone}, "213-Status\r\n 213 3\r\n213 10", ""},
    ConfirmCase{"SizeWithLeadingZeros", "", {kDone}, "213 0010", ""},
    ConfirmCase{"FinalReply250", "", {"250 Stored."}, "213 10", ""},
    ConfirmCase{"SizeNoSuchFile", "", {kDone}, "550 No such file.", NotConfirmed("SIZE", "\"550 No such file.\"")},
    ConfirmCase{"SizeNotImplemented", "", {kDone}, "502 Command not implemented.",
                NotConfirmed("SIZE", "\"502 Command not implemented.\"")},
    ConfirmCase{"SizeBusy", "", {kDone}, "450 busy", NotConfirmed("SIZE", "\"450 busy\"")},
    ConfirmCase{"SizeNegative", "", {kDone}, "213 -5", NotConfirmed("SIZE", "\"213 -5\"")},
    ConfirmCase{"SizeExponent", "", {kDone}, "213 1e9", NotConfirmed("SIZE", "\"213 1e9\"")},
    ConfirmCase{"SizePast64Bits", "", {kDone}, "213 99999999999999999999",
                NotConfirmed("SIZE", "\"213 99999999999999999999\"")},
    ConfirmCase{"SizeHex", "", {kDone}, "213 0x10", NotConfirmed("SIZE", "\"213 0x10\"")},
    ConfirmCase{"SizeWithUnit", "", {kDone}, "213 10 bytes", NotConfirmed("SIZE", "\"213 10 bytes\"")},
    ConfirmCase{"SizeWithoutNumber", "", {kDone}, "213", NotConfirmed("SIZE", "\"213\"")},
    ConfirmCase{"AbortedThen226", "", {"426 Connection closed; transfer aborted.", kDone}, "",
                NotConfirmed("the transfer", "\"426 Connection closed; transfer aborted.\", then \"226 Transfer complete.\"")},
    ConfirmCase{"Final225", "", {"225 Data connection open."}, "",
                NotConfirmed("the transfer", "\"225 Data connection open.\"")},
    ConfirmCase{"Rule226Final226", " confirm=226", {kDone}, "", ""},
    ConfirmCase{"Rule226AbortedThen226", " confirm=226", {"426 Connection closed; transfer aborted.", kDone}, "",
                NotConfirmed("the transfer", "\"426 Connection closed; transfer aborted.\", then \"226 Transfer complete.\"")},
    ConfirmCase{"Rule226Final225", " confirm=226", {"225 Data connection open."}, "",
                NotConfirmed("the transfer", "\"225 Data connection open.\"")}),
    [](const auto& info) { return info.param.name; });

// A multi-line reply ends only at its end marker: a short line inside it is
// text, so the replies after it stay in step.
TEST(UploadRunScripted, ShortLinesInsideRepliesKeepTheExchangeInStep) {
    std::vector<ScriptStep> script{Greeting("220-Welcome\r\n--\r\n220 ready")};
    for (ScriptStep& step : LogIn()) script.push_back(step);
    script.push_back(Answer("227 Entering Passive Mode ({PASV})."));
    script.push_back(Answer("150 Ok to send data.", Action::ReceiveData));
    script.push_back(Reply("226-Transfer complete.\r\nok\r\n226 Quota 10 of 100 used."));
    script.push_back(Answer("213 10"));
    ScriptedFtpServer server(script);
    UploadBench bench;
    LogInTo(bench, server);
    bench.AddFile("F0120926.xml", std::string(10, 'a'));
    EXPECT_EQ(bench.Run(), "");
    server.WaitDone();
    EXPECT_EQ(server.Failure(), "");
    EXPECT_EQ(server.Commands(), (std::vector<std::string>{"USER u", "PASS p", "TYPE I", "SYST", "PASV",
                                                           "STOR F0120926.xml", "SIZE F0120926.xml"}));
    EXPECT_EQ(bench.view.messages, (std::vector<std::string>{"All Finished!"}));
    EXPECT_EQ(bench.FileLogRows().size(), 1u);
}

TEST(UploadRunScripted, ServerClosingGivesTheClosedMessage) {
    std::vector<ScriptStep> script = LogIn();
    script.push_back(Answer("227 Entering Passive Mode ({PASV}).", Action::HangUp));
    ScriptedFtpServer server(script);
    UploadBench bench;
    LogInTo(bench, server);
    bench.AddFile("SALES120926.xml", "1234");
    const std::string error = bench.Run();
    EXPECT_EQ(error, "Connection Closed Gracefully.");
    ExpectStoppedByError(bench);
}

TEST(UploadRunScripted, SourceFolderSavedDuringTheRunIsUsedForTheNextFile) {
    std::vector<ScriptStep> script = LogIn();
    AppendStore(script, "213 5");
    AppendStore(script, "213 6");
    ScriptedFtpServer server(script);
    UploadBench bench;
    LogInTo(bench, server);
    bench.AddFile("ONE120926.xml", "first");
    const std::string otherFolder = bench.sourceFolder + "other/";
    fs::create_directories(otherFolder);
    std::ofstream(otherFolder + "TWO120926.xml", std::ios::binary) << "second";
    bench.ListOnly("TWO120926.xml");
    bench.view.onStatus = [&](const std::string& status) {
        if (status == "Upload Complete!") bench.sourceFolder = otherFolder;   // a Save on the other page
    };
    EXPECT_EQ(bench.Run(), "");
    EXPECT_EQ(server.Data(), "firstsecond");
    EXPECT_EQ(bench.uploadPath, otherFolder + "TWO120926.xml");
}

TEST(UploadRunScripted, UploadLogClosedDuringTheRunStopsItAtTheNextRow) {
    ScriptedFtpServer server(LogInAndStoreOne());
    UploadBench bench;
    LogInTo(bench, server);
    bench.AddFile("ONE120926.xml", "data");
    // The window closes while the file is on its way: the upload log closes.
    bench.view.onStatus = [&](const std::string& status) {
        if (status.rfind("Uploading ", 0) == 0) bench.CloseUpLog();
    };
    const std::string error = bench.Run();
    EXPECT_NE(error.find("DbfUpLog"), std::string::npos) << error;
    EXPECT_EQ(bench.view.status, "Uploading ONE120926.xml");   // "Upload Complete!" not set
    ExpectStoppedByError(bench);
    EXPECT_EQ(bench.AuditRows().size(), 1u);
}

TEST(UploadRunEmptyLoginFile, GoesOnWithAnEmptyHostAndFailsToConnect) {
    UploadBench bench;
    std::ofstream(bench.programFolder + bench.locationCode + ".DAT", std::ios::binary) << "";
    bench.ftpHost = "earlier";
    bench.AddFile("ONE120926.xml", "data");
    const std::string error = bench.Run();
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(bench.ftpHost, "");
    ExpectStoppedByError(bench);
    const auto audit = bench.AuditRows();
    ASSERT_EQ(audit.size(), 1u);
    EXPECT_EQ(audit[0].host, "");
    EXPECT_EQ(audit[0].fileName, "");
}

// On POSIX ":" and "\" are ordinary characters of a file name: two files
// that differ only before them are two remote files, each marked once the
// server holds it.
TEST(UploadRunVsftpd, NamesWithColonsAndBackslashesStayWhole) {
    if (!FtpServerAvailable(FtpServerKind::Vsftpd)) GTEST_SKIP() << "vsftpd not installed";
    RealFtpServer server(FtpServerKind::Vsftpd);
    fs::create_directories(server.RootDir() + "/incoming");
    UploadBench bench;
    bench.ftp.SetPort(server.Port());
    bench.WriteLogin("127.0.0.1", server.User(), server.Password(), "incoming");
    const std::vector<std::pair<std::string, std::string>> files = {
        {"a:SALES010126.xml", Bytes(3000, 1)}, {"b:SALES010126.xml", Bytes(5000, 2)}, {"c\\SALES010126.xml", "c"}};
    for (const auto& [name, bytes] : files) bench.AddFile(name, bytes);

    EXPECT_EQ(bench.Run(), "");

    for (const auto& [name, bytes] : files)
        EXPECT_TRUE(ReadWholeFile(server.RootDir() + "/incoming/" + name) == bytes) << name;
    EXPECT_FALSE(fs::exists(server.RootDir() + "/incoming/SALES010126.xml"));
    const auto logged = bench.FileLogRows();
    ASSERT_EQ(logged.size(), files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(logged[i].fileName, files[i].first);
        EXPECT_EQ(logged[i].copied, "YES");
    }
    EXPECT_EQ(bench.view.statusLog.front(), "Uploading a:SALES010126.xml [painted]");
    const auto audit = bench.AuditRows();
    ASSERT_EQ(audit.size(), 4u);
    EXPECT_EQ(audit[1].fileName, "a:SALES010126.xml");
    EXPECT_EQ(audit[3].fileName, "c\\SALES010126.xml");
}

// ---- names beyond ASCII -----------------------------------------------------

// Paths are UTF-8 in the program; on Windows the narrow conversions of
// std::filesystem would read them in the ANSI code page, which holds
// neither Greek nor CJK letters.
struct NameCase {
    std::string title, folder, file;
};
std::ostream& operator<<(std::ostream& out, const NameCase& c) { return out << c.title; }

struct ScanMessagesSeen : TScanMessages {
    std::vector<std::string> shown;
    void PlainMessage(const std::string& text) override { shown.push_back(text); }
    void ErrorMessage(const std::string& text) override { shown.push_back(text); }
};

class UploadRunNames : public ::testing::TestWithParam<NameCase> {};

// The program and source folders under the name: start-up opens the tables
// there, the scan lists the file under its name, the run sends it, the
// server stores it under that name (UTF-8 on its disk) and the tables
// written there record it.
TEST_P(UploadRunNames, FoldersAndFilesKeepTheirNamesFromStartUpToTheServer) {
    if (!FtpServerAvailable(FtpServerKind::Vsftpd)) GTEST_SKIP() << "vsftpd not installed";
    const NameCase& c = GetParam();
    RealFtpServer server(FtpServerKind::Vsftpd);
    fs::create_directories(server.RootDir() + "/incoming");
    UploadBench bench(c.folder);
    ASSERT_NE(bench.programFolder.find(c.folder), std::string::npos);
    bench.ftp.SetPort(server.Port());
    bench.WriteLogin("127.0.0.1", server.User(), server.Password(), "incoming");
    const std::string bytes = Bytes(5000, 4);
    bench.AddFile(c.file, bytes, false);
    // Beside the tables, a file no ANSI code page can name (Ωμέγα.txt).
    std::ofstream(PathFromUtf8(bench.programFolder + "\u03a9\u03bc\u03ad\u03b3\u03b1.txt")) << "x";
    const std::string sourceFolder = bench.sourceFolder;

    OpenProgramTables(std::string(bench.programFolder), {bench.settings, bench.fileLog, bench.upLog},
                      {bench.programFolder, bench.locationCode, bench.sourceFolder});
    EXPECT_NE(bench.programFolder.find(c.folder), std::string::npos) << bench.programFolder;
    EXPECT_EQ(PathFromUtf8(bench.sourceFolder).lexically_normal(), PathFromUtf8(sourceFolder).lexically_normal());
    ScanMessagesSeen messages;
    const fs::path previous = fs::current_path();
    LoadGrid("1", bench.sourceFolder, bench.settings, bench.fileLog, bench.list, messages);
    fs::current_path(previous);
    EXPECT_EQ(messages.shown, std::vector<std::string>{});
    ASSERT_EQ(bench.list.Rows().size(), 1u);
    EXPECT_EQ(bench.list.Rows()[0].FileName, c.file);

    EXPECT_EQ(bench.Run(), "");
    EXPECT_EQ(bench.view.messages, (std::vector<std::string>{"All Finished!"}));
    std::vector<std::string> stored;
    for (const auto& entry : fs::directory_iterator(PathFromUtf8(server.RootDir() + "/incoming")))
        stored.push_back(Utf8FromPath(entry.path().filename()));
    EXPECT_EQ(stored, std::vector<std::string>{c.file});
    EXPECT_TRUE(ReadWholeFile(server.RootDir() + "/incoming/" + c.file) == bytes);
    // The tables hold the name in Windows-1252, as the independent reader sees it.
    const std::string stored1252 = StoredFromText(c.file).value_or("<cannot be held>");
    const auto logged = bench.FileLogRows();
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].fileName, stored1252);
    EXPECT_EQ(logged[0].copied, "YES");
    const auto audit = bench.AuditRows();
    ASSERT_EQ(audit.size(), 2u);
    EXPECT_EQ(audit[1].fileName, stored1252);
    EXPECT_TRUE(bench.fileLog.Seek(c.file, true));
    EXPECT_EQ(bench.fileLog.ReadText("FILENAME"), c.file);
}

INSTANTIATE_TEST_SUITE_P(Cases, UploadRunNames, ::testing::Values(
    NameCase{"LatinAndGreek", "Z\u00fcrich-\u03a9", "MA\u00d1ANA120926.xml"},   // Zürich-Ω, MAÑANA
    // 東京-𝄞 (a pair of surrogates in UTF-16), ÉTÉ-œ€ (file names are kept in
    // the file log, which holds Windows-1252: œ and € are among its bytes 0x80-0x9F)
    NameCase{"CjkAndBeyondTheBasicPlane", "\u6771\u4eac-\U0001d11e", "\u00c9T\u00c9-\u0153\u20ac120926.xml"}),
    [](const auto& info) { return info.param.title; });

// The program folder as start-up makes it absolute, and the lock file's path
// joined to it, use one separator: a message never shows "C:\\QELZAV/UPLOAD.LCK".
TEST(UploadRunPaths, StartUpJoinsWithTheSystemsSeparator) {
    UploadBench bench;
    std::string folder = bench.programFolder;
    folder.pop_back();   // as typed, without the separator
    OpenProgramTables(folder, {bench.settings, bench.fileLog, bench.upLog},
                      {bench.programFolder, bench.locationCode, bench.sourceFolder});
    for (const std::string& path : {bench.programFolder, FolderLockPath(bench.programFolder)}) {
        const bool slash = path.find('/') != std::string::npos, backslash = path.find('\\') != std::string::npos;
        EXPECT_FALSE(slash && backslash) << path;
    }
}

// ---- the audit rows' writer -------------------------------------------------

TEST(AuditWriter, CommitsBesideTheCallerOneRowAtATimeInOrder) {
    UploadBench bench;
    std::atomic<int> committed{0};
    std::atomic<bool> onCallersThread{false};
    const auto caller = std::this_thread::get_id();
    bench.upLog.SetUpdateRecordHook([&] {
        if (std::this_thread::get_id() == caller) onCallersThread = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ++committed;
    });
    {
        TAuditWriter writer(bench.upLog);
        writer.Write(MakeUpLogRow("host", "/in/ONE120926.xml", 1));
        writer.Write(MakeUpLogRow("host", "/in/TWO120926.xml", 2));
        EXPECT_GE(committed.load(), 1);   // the row before is committed first
        writer.Finish();
        EXPECT_EQ(committed.load(), 2);
        writer.Write(MakeUpLogRow("host", "/in/THREE120926.xml", 3));
    }   // the destructor waits for the last row
    EXPECT_EQ(committed.load(), 3);
    EXPECT_FALSE(onCallersThread);
    const auto rows = bench.AuditRows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].fileName, "ONE120926.xml");
    EXPECT_EQ(rows[1].fileName, "TWO120926.xml");
    EXPECT_EQ(rows[2].fileName, "THREE120926.xml");
}

TEST(AuditWriter, AFailedCommitComesThroughAtTheNextCallAndOnlyOnce) {
    UploadBench bench;
    bench.upLog.SetUpdateRecordHook([] { throw EInOutError("write failed: No space left on device"); });
    TAuditWriter writer(bench.upLog);
    writer.Write(MakeUpLogRow("host", "/in/ONE120926.xml", 1));   // handed over
    EXPECT_THROW(writer.Write(MakeUpLogRow("host", "/in/TWO120926.xml", 2)), EInOutError);
    EXPECT_NO_THROW(writer.Finish());
    EXPECT_TRUE(bench.AuditRows().empty());
    // A failure the next run would otherwise meet at its first row.
    bench.upLog.Cancel();
    writer.Write(MakeUpLogRow("host", "/in/THREE120926.xml", 3));
    writer.Restart();
    bench.upLog.Cancel();
    bench.upLog.SetUpdateRecordHook(nullptr);
    EXPECT_NO_THROW(writer.Write(MakeUpLogRow("host", "/in/FOUR120926.xml", 4)));
    EXPECT_NO_THROW(writer.Finish());
    ASSERT_EQ(bench.AuditRows().size(), 1u);
    EXPECT_EQ(bench.AuditRows()[0].fileName, "FOUR120926.xml");
}

TEST(UploadRunScripted, AuditRowThatFailsToCommitStopsTheRunBeforeTheMarks) {
    ScriptedFtpServer server(LogInAndStoreOne());
    UploadBench bench;
    LogInTo(bench, server);
    bench.AddFile("ONE120926.xml", "data");
    int posts = 0;   // the row before connecting commits; the file's row fails
    bench.upLog.SetUpdateRecordHook([&] {
        if (++posts == 2) throw EInOutError("write failed: No space left on device");
    });
    EXPECT_EQ(bench.Run(), "write failed: No space left on device");
    EXPECT_EQ(server.Data(), "data");
    ExpectStoppedByError(bench);   // sent, but not marked: it goes again next time
    EXPECT_EQ(bench.AuditRows().size(), 1u);
}
