// `qeladmin upload` against vsftpd on port 21 of the test's own network
// namespace, side by side with the window's Upload: the same commands,
// tables and audit rows; its failures and exit statuses; and the program
// folder's lock between two commands, and between the window and a command.
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "AppTestSupport.h"
#include "UploadTestSupport.h"
#include "app/PartsProgressBar.h"
#include "data/values/DateTime.h"
#include "tests/support/FtpServers.h"
#include "tests/support/ScriptedFtpServer.h"
#include "tools/qeladmin/UploadStatus.h"
#include "upload/FolderLock.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace qztest;
using qz::test::Answer;
using qz::test::FtpServerKind;
using qz::test::Greeting;
using qz::test::RealFtpServer;
using qz::test::ScriptedFtpServer;
using qz::test::ScriptStep;
using Strings = std::vector<std::string>;

namespace {

// vsftpd holds each log-in this long: a run is then in progress for sure
// while the test starts the second one.
const char* const kSlowLogin = "delay_successful_login=3\n";

// A qeladmin process with its standard output and error in files.
class Command {
public:
    explicit Command(const Strings& args) : dir_(TempDir()) {
        std::vector<std::string> words{QZ_QELADMIN};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, (dir_ / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, (dir_ / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (::posix_spawn(&pid_, QZ_QELADMIN, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Command() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            Wait();
        }
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    pid_t Pid() const { return pid_; }
    // The exit status; -1 when it did not exit by itself.
    int Wait() {
        if (pid_ <= 0) return status_;
        int raw = 0;
        while (::waitpid(pid_, &raw, 0) < 0 && errno == EINTR) {}
        pid_ = -1;
        status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        return status_;
    }
    Strings Err() const { return Lines(ReadFile(dir_ / "err")); }
    Strings Out() const { return Lines(ReadFile(dir_ / "out")); }

private:
    // Of this command alone: tests run side by side in several processes.
    static fs::path TempDir() {
        std::string pattern = (fs::temp_directory_path() / "qzcmd-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        return pattern;
    }
    fs::path dir_;
    pid_t pid_ = -1;
    int status_ = -1;
};

// A program folder with usual settings, three extract files and (unless
// told otherwise) a login file for 127.0.0.1 with remote folder "incoming".
class UploadFolder {
public:
    explicit UploadFolder(int files = 3) {
        w.WriteUsualSettings();
        for (int i = 1; i <= files; ++i) AddFile("F" + std::to_string(i) + "061505.xml", Bytes(1000u * i + 7, i));
    }
    void AddFile(const std::string& name, const std::string& bytes) {
        AddDatedExtract(w.Folder(), name, bytes);
        names.push_back(name);
        contents.push_back(bytes);
    }
    void Login(const std::string& password = kFtpPassword, const std::string& remoteFolder = "incoming") {
        QeladminLogin(w.Folder().Path(), "anonymous", password, remoteFolder);
    }
    std::string Folder() { return w.Folder().Path(); }
    Strings UploadArgs() { return {"upload", Folder()}; }

    std::vector<Strings> FileLog() { return Records(Folder() + "FILELOG.DBF"); }
    std::vector<Strings> UpLog() { return Records(Folder() + "UPLOG.DBF"); }
    std::string LastCopy() {
        const auto settings = Records(Folder() + "ZAVSYS.DBF");
        return settings.empty() || settings[0].size() < 4 ? "<none>" : settings[0][3];
    }
    // The file log checked, and the upload log without its time of day.
    void ExpectMarked(std::size_t count) {
        const auto fileLog = FileLog();
        ASSERT_EQ(fileLog.size(), count);
        for (std::size_t i = 0; i < count; ++i)
            EXPECT_EQ(fileLog[i], (Strings{TodayYmd(), names[i], "20050615", "YES"}));
        EXPECT_EQ(LastCopy(), TodayYmd());
    }
    void ExpectArrived(const std::string& serverRoot) {
        for (std::size_t i = 0; i < names.size(); ++i)
            EXPECT_EQ(ReadFile(fs::path(serverRoot) / "incoming" / names[i]), contents[i]) << names[i];
    }

    WindowFixture w;
    Strings names, contents;
};

std::unique_ptr<RealFtpServer> Vsftpd(UploadFolder& s, const std::string& extraConfig = {}) {
    return std::make_unique<RealFtpServer>(FtpServerKind::Vsftpd, ServerRoot(s.w.Folder().Root()), 21, extraConfig);
}

Strings ExpectedCommands(const Strings& names) {
    // vsftpd hides the password in its log; no QUIT.
    Strings expected{"USER anonymous", "PASS <password>", "TYPE I", "SYST", "CWD incoming"};
    for (const std::string& name : names) expected.insert(expected.end(), {"PASV", "STOR " + name, "SIZE " + name});
    return expected;
}

std::size_t Count(const Strings& commands, const std::string& prefix) {
    std::size_t n = 0;
    for (const std::string& c : commands) n += c.rfind(prefix, 0) == 0;
    return n;
}

// Waits (at most a minute) until the server has seen the password: the run
// then holds the folder's lock and waits for the slow log-in.
bool WaitForLogIn(const RealFtpServer& server) {
    for (int i = 0; i < 3000; ++i) {
        if (Count(server.LoggedCommands(), "PASS") > 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// Each row without its DATETIME (the time of day it was written).
std::vector<Strings> WithoutTimeOfDay(std::vector<Strings> rows) {
    for (Strings& row : rows)
        if (row.size() > 3) row.erase(row.begin() + 3);
    return rows;
}

TEST(Unattended, SendsThreeFilesAsTheWindowDoes) {
    REQUIRE_OWN_NETWORK_NAMESPACE();
    // The window's run, for the comparison.
    Strings windowCommands;
    std::vector<Strings> windowFileLog, windowUpLog;
    {
        UploadFolder window;
        auto server = Vsftpd(window);
        window.Login();
        TForm1& form = window.w.Show();
        window.w.Messages().shown.clear();
        QTest::mouseClick(form.BitBtn1, Qt::LeftButton);
        ASSERT_EQ(window.w.Messages().shown, Strings{"plain:All Finished!"});
        windowCommands = server->LoggedCommands();
        windowFileLog = window.FileLog();
        windowUpLog = window.UpLog();
    }

    UploadFolder s;
    auto server = Vsftpd(s);
    s.Login();
    Command run(s.UploadArgs());

    EXPECT_EQ(run.Wait(), kUploadFinished);
    EXPECT_EQ(run.Err(), Strings{"All Finished!"});   // not a terminal: the messages only
    EXPECT_TRUE(run.Out().empty());
    s.ExpectArrived(server->RootDir());
    EXPECT_EQ(server->LoggedCommands(), ExpectedCommands(s.names));
    EXPECT_EQ(server->LoggedCommands(), windowCommands);
    s.ExpectMarked(3);
    EXPECT_EQ(s.FileLog(), windowFileLog);
    const auto upLog = s.UpLog();
    ASSERT_EQ(upLog.size(), 4u);
    EXPECT_EQ(WithoutTimeOfDay(upLog), WithoutTimeOfDay(windowUpLog));
    EXPECT_EQ(upLog[1], (Strings{TodayYmd(), "127.0.0.1", s.names[0], upLog[1][3], "0", "XXX"}));
}

// A name the file log cannot hold (beyond Windows-1252) is left out with one
// message; the others are sent and marked, and the run ends with the status
// that says some files were left out.
TEST(Unattended, NameTheTablesCannotHoldIsLeftOutAndTheRestSent) {
    REQUIRE_OWN_NETWORK_NAMESPACE();
    UploadFolder s;
    const std::string beyond = "\u6771\u4eac061505.xml";   // 東京
    AddDatedExtract(s.w.Folder(), beyond, "never sent");
    auto server = Vsftpd(s);
    s.Login();
    Command run(s.UploadArgs());

    EXPECT_EQ(run.Wait(), kUploadLeftOut);
    EXPECT_EQ(run.Err(), (Strings{"\"" + beyond + "\" is not listed: the file log cannot hold its name "
                                  "(Windows-1252 characters only).", "All Finished!"}));
    s.ExpectArrived(server->RootDir());
    EXPECT_FALSE(fs::exists(fs::path(server->RootDir()) / "incoming" / beyond));
    s.ExpectMarked(3);
}

TEST(Unattended, ListsTheFilesItWouldSendAndSendsNothing) {
    UploadFolder s;
    s.AddFile("E\x1b[2J061505.xml", "x");   // a name that would clear the terminal: never listed
    s.Login();
    Command list({"upload", s.Folder(), "--list"});

    EXPECT_EQ(list.Wait(), kUploadFinished);
    EXPECT_EQ(list.Out(), (Strings{s.names[0], s.names[1], s.names[2]}));
    EXPECT_EQ(list.Err(), Strings{"\"E\\x1B[2J061505.xml\" is not listed: its name holds control characters."});
    EXPECT_TRUE(s.FileLog().empty());
    EXPECT_TRUE(s.UpLog().empty());
    EXPECT_EQ(s.LastCopy(), kLastCopyBefore);
}

// Start-up rebuilds the file-log index when it is missing, and when it is
// there but cannot be trusted (an empty file; the index of an earlier, empty
// file log: it has no key for the records), which it reports.
TEST(Unattended, RebuildsAMissingOrUntrustworthyFileLogIndexAsStartUpDoes) {
    enum class Spoil { Remove, Empty, EarlierIndex };
    for (Spoil spoil : {Spoil::Remove, Spoil::Empty, Spoil::EarlierIndex}) {
        SCOPED_TRACE(int(spoil));
        UploadFolder s;
        const std::string cdx = s.Folder() + "FileLog.CDX";
        std::string earlier;
        {
            std::ifstream in(cdx, std::ios::binary);
            earlier.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        s.w.Folder().AddFileLog(s.names[0], StrToDate("06/15/05"));   // sent before the last copy day
        if (spoil == Spoil::Remove) fs::remove(cdx);
        else std::ofstream(cdx, std::ios::binary | std::ios::trunc) << (spoil == Spoil::Empty ? std::string() : earlier);
        Command list({"upload", s.Folder(), "--list"});

        EXPECT_EQ(list.Wait(), kUploadFinished);
        bool indexMade = false;   // in the letter case the table layer gives it
        for (const auto& entry : fs::directory_iterator(s.Folder()))
            indexMade |= QString::fromStdString(entry.path().filename().string()).toLower() == "filelog.cdx";
        EXPECT_TRUE(indexMade);
        EXPECT_EQ(list.Out(), (Strings{s.names[1], s.names[2]}));   // the first one found through the new index
        if (spoil == Spoil::Remove) {
            EXPECT_TRUE(list.Err().empty());
        } else {
            ASSERT_EQ(list.Err().size(), 1u);
            EXPECT_EQ(list.Err()[0].rfind("FILELOG.DBF: its index could not be trusted and was rebuilt from the records (", 0), 0u)
                << list.Err()[0];
        }
    }
}

TEST(Unattended, WrongArgumentsGiveTheUsage) {
    const std::string usage = "usage: qeladmin upload DIR [--list] [--retries N] [--retry-wait SECONDS] [--record FILE]";
    const std::pair<Strings, std::string> cases[] = {
        {{"upload"}, "too few arguments"},
        {{"upload", "a", "b"}, "too many arguments"},
        {{"upload", "--all", "a"}, "unknown option \"--all\""},
        {{"upload", "a", "--retries", "-1"}, "--retries takes a whole number from 0 to 100, not \"-1\""},
    };
    for (const auto& [args, reason] : cases) {
        Command run(args);
        EXPECT_EQ(run.Wait(), kUploadUsage);
        EXPECT_EQ(run.Err(), (Strings{"qeladmin upload: " + reason, usage}));
    }
}

TEST(Unattended, ShowsAProgressLinePerFileOnATerminal) {
    REQUIRE_OWN_NETWORK_NAMESPACE();
    UploadFolder s;
    auto server = Vsftpd(s);
    s.Login();
    int terminal = -1;
    const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::execl(QZ_QELADMIN, QZ_QELADMIN, "upload", s.Folder().c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    std::string seen;
    char buffer[512];
    ssize_t got;
    while ((got = ::read(terminal, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR))
        if (got > 0) seen.append(buffer, static_cast<std::size_t>(got));
    ::close(terminal);
    int raw = 0;
    ::waitpid(pid, &raw, 0);

    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == kUploadFinished);
    EXPECT_EQ(seen, "Uploading F1061505.xml (1 of 3)\r\nUploading F2061505.xml (2 of 3)\r\n"
                    "Uploading F3061505.xml (3 of 3)\r\nAll Finished!\r\n");
}

// A failing run: how it is set up, and what it must say and leave.
struct FailureCase {
    const char* title = "";
    bool server = true;      // vsftpd on port 21 (refusing "intruder@")
    bool loginFile = true;
    int files = 3;
    std::string password = kFtpPassword, remoteFolder = "incoming";
    std::string blockedName;     // a folder of this name on the server makes its STOR fail
    std::string removedTable;    // a table file missing from the program folder
    bool fileLogHeld = false;    // another program holds the file log's write lock
    bool sourceMissing = false;
    int status = 0;
    Strings lines;               // standard error; a line ending in "*" is a prefix
    std::size_t auditRows = 0;
    std::size_t stored = 0;      // STOR commands the server saw
};

std::ostream& operator<<(std::ostream& out, const FailureCase& c) { return out << c.title; }

std::vector<FailureCase> FailureCases() {
    std::vector<FailureCase> cases;
    auto add = [&](const char* title, auto&& tweak) {
        FailureCase c;
        c.title = title;
        tweak(c);
        cases.push_back(c);
    };
    add("NoLoginFile", [](FailureCase& c) {
        c.loginFile = false;
        c.status = kUploadNoLogin;
        c.lines = {"Not Enough Login Information To Upload!"};
    });
    add("NoLoginFileNothingListed", [](FailureCase& c) {
        c.loginFile = false;
        c.files = 0;
        c.status = kUploadNoLogin;
        c.lines = {"No Files To Copy!", "Not Enough Login Information To Upload!", "No Files To Copy!"};
    });
    // Stopped before any file went: the connect status, one line, the run's audit row.
    auto addRefused = [&](const char* title, const char* line, auto&& tweak) {
        add(title, [&](FailureCase& c) {
            tweak(c);
            c.status = kUploadConnectFailed;
            c.lines = {line};
            c.auditRows = 1;
        });
    };
    addRefused("ConnectRefused", "Socket Error # 10061 Connection refused.", [](FailureCase& c) { c.server = false; });
    addRefused("LogInRefused", "Login incorrect.", [](FailureCase& c) { c.password = "intruder@"; });
    addRefused("RemoteFolderRefused", "Failed to change directory.", [](FailureCase& c) { c.remoteFolder = "missing"; });
    add("SecondStorRefused", [](FailureCase& c) {
        c.blockedName = "F2061505.xml";
        c.status = kUploadTransferFailed;
        c.lines = {"The server refused F2061505.xml: Could not create file."};
        c.auditRows = 2;
        c.stored = 2;
    });
    add("FileLogHeldByAnotherProgram", [](FailureCase& c) {
        c.fileLogHeld = true;
        c.status = kUploadTablesFailed;
        c.lines = {"DbfFileLog: *"};
        c.auditRows = 4;
        c.stored = 3;
    });
    add("UploadLogMissing", [](FailureCase& c) {
        c.removedTable = "UPLOG.DBF";
        c.status = kUploadTablesFailed;
        c.lines = {"DbfUpLog: *"};
    });
    add("SourceFolderMissing", [](FailureCase& c) {
        c.sourceMissing = true;
        c.status = kUploadNotSetUp;
        c.lines = {"Invalid Directory!"};
    });
    return cases;
}

class UnattendedFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(UnattendedFailure, SaysWhyEndsWithItsStatusAndMarksNothing) {
    REQUIRE_OWN_NETWORK_NAMESPACE();
    const FailureCase& c = GetParam();
    UploadFolder s(c.files);
    std::unique_ptr<RealFtpServer> server;
    if (c.server) {
        const fs::path denied = s.w.Folder().Root() / "denied-passwords";
        std::ofstream(denied) << "intruder@\n";
        server = Vsftpd(s, "deny_email_enable=YES\nbanned_email_file=" + denied.string() + "\n");
        if (!c.blockedName.empty()) fs::create_directories(fs::path(server->RootDir()) / "incoming" / c.blockedName);
    }
    if (c.loginFile) s.Login(c.password, c.remoteFolder);
    if (!c.removedTable.empty()) fs::remove(s.Folder() + c.removedTable);
    if (c.sourceMissing) fs::remove_all(s.w.Folder().SourcePath());
    // The header lock of the file log at the offset xBase programs use, as
    // another program writing to it holds it.
    int held = -1;
    if (c.fileLogHeld) {
        held = ::open((s.Folder() + "FILELOG.DBF").c_str(), O_RDWR | O_CLOEXEC);
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        lock.l_start = 0x7FFFFFFE;
        lock.l_len = 1;
        ASSERT_EQ(::fcntl(held, F_OFD_SETLK, &lock), 0);
    }

    Command run(s.UploadArgs());
    const int status = run.Wait();
    if (held >= 0) ::close(held);

    EXPECT_EQ(status, c.status);
    const Strings lines = run.Err();
    ASSERT_EQ(lines.size(), c.lines.size()) << ::testing::PrintToString(lines);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& want = c.lines[i];
        if (!want.empty() && want.back() == '*')
            EXPECT_EQ(lines[i].substr(0, want.size() - 1), want.substr(0, want.size() - 1)) << lines[i];
        else
            EXPECT_EQ(lines[i], want);
    }
    EXPECT_TRUE(s.FileLog().empty());
    EXPECT_EQ(s.LastCopy(), kLastCopyBefore);
    if (c.removedTable != "UPLOG.DBF") {
        EXPECT_EQ(s.UpLog().size(), c.auditRows);
    }
    if (server) {
        EXPECT_EQ(Count(server->LoggedCommands(), "STOR"), c.stored);
        // No audit row: the run ended before it connected.
        if (c.auditRows == 0) {
            EXPECT_TRUE(server->LoggedCommands().empty());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, UnattendedFailure, ::testing::ValuesIn(FailureCases()),
                         [](const auto& info) { return std::string(info.param.title); });

// ---- against a scripted server: what a real one will not do on demand -------

// The login file for the scripted server's port, written by `qeladmin login`
// with `options` (e.g. "--confirm 226").
void LoginToPort(UploadFolder& s, int port, const std::string& remoteFolder, const std::string& options = {}) {
    Shell("printf '%s\\n' secret | " + std::string(QZ_QELADMIN) + " login " + Quoted(s.Folder()) +
          " ABC 127.0.0.1 hotel -" + (remoteFolder.empty() ? "" : " " + Quoted(remoteFolder)) + " --port " +
          std::to_string(port) + (options.empty() ? "" : " " + options) + " 2>&1");
}

// One file stored; the final reply and, when not empty, the reply to SIZE.
void AppendStore(std::vector<ScriptStep>& script, const std::string& finalReply, const std::string& sizeReply) {
    script.push_back(Answer("227 Entering Passive Mode ({PASV})."));
    script.push_back(Answer("150 Ok to send data.", ScriptStep::Action::ReceiveData));
    script.push_back(ScriptStep{false, finalReply + "\r\n", ScriptStep::Action::None});
    if (!sizeReply.empty()) script.push_back(Answer(sizeReply));
}

struct ScriptedCase {
    const char* title = "";
    Strings files;                   // extract names, each of 10 bytes
    std::string remoteFolder;
    std::string options;             // of qeladmin login
    std::vector<ScriptStep> afterLogIn;
    int status = 0;
    Strings lines;                   // standard error
    Strings marked;                  // file-log names afterwards
    std::string uploadedBy = "XXX";  // of every audit row
};
std::ostream& operator<<(std::ostream& out, const ScriptedCase& c) { return out << c.title; }

std::vector<ScriptedCase> ScriptedCases() {
    const std::string tooLong = std::string(91, 'L') + "061505.xml";   // 101 characters
    std::vector<ScriptedCase> cases;
    auto add = [&](const char* title, auto&& tweak) {
        ScriptedCase c;
        c.title = title;
        tweak(c);
        cases.push_back(c);
    };
    add("SizeRefusedMarksNothing", [](ScriptedCase& c) {
        c.files = {"F1061505.xml"};
        AppendStore(c.afterLogIn, "226 Transfer complete.", "550 No such file.");
        c.status = kUploadTransferFailed;
        c.lines = {"F1061505.xml is not confirmed on the server: it answered SIZE with \"550 No such file.\"."};
    });
    add("AbortedThen226MarksNothing", [](ScriptedCase& c) {
        c.files = {"F1061505.xml"};
        c.afterLogIn = {Answer("227 Entering Passive Mode ({PASV})."),
                        Answer("150 Ok to send data.", ScriptStep::Action::ReceiveData),
                        ScriptStep{false, "426 Transfer aborted.\r\n226 Transfer complete.\r\n", ScriptStep::Action::None}};
        c.status = kUploadTransferFailed;
        c.lines = {"F1061505.xml is not confirmed on the server: it answered the transfer with \"426 Transfer "
                   "aborted.\", then \"226 Transfer complete.\"."};
    });
    add("Confirm226TrustsTheFinalReplyAndSaysSo", [](ScriptedCase& c) {
        c.files = {"F1061505.xml"};
        c.options = "--confirm 226";
        AppendStore(c.afterLogIn, "226 Transfer complete.", "");
        c.lines = {"All Finished!"};
        c.marked = {"F1061505.xml"};
        c.uploadedBy = "226";
    });
    add("ReplyWithoutTextNamesItsCode", [](ScriptedCase& c) {
        c.files = {"F1061505.xml"};
        c.remoteFolder = "incoming";
        c.afterLogIn = {Answer("550")};
        c.status = kUploadConnectFailed;
        c.lines = {"The server answered \"550\" with no text."};
    });
    add("PassiveReplyWithoutPortIsATransferFailure", [](ScriptedCase& c) {
        c.files = {"F1061505.xml"};
        c.afterLogIn = {Answer("227 Entering Passive Mode (127,0,0,1,7)")};
        c.status = kUploadTransferFailed;
        c.lines = {"'' is not a valid integer value."};
    });
    add("LongNameSentWholeNeverTheFileOfItsCutName", [](ScriptedCase& c) {
        c.files = {"VERYLONGEXTRACTNAME_061505.xml"};
        AppendStore(c.afterLogIn, "226 Transfer complete.", "213 10");
        c.lines = {"All Finished!"};
        c.marked = {"VERYLONGEXTRACTNAME_061505.xml"};
    });
    add("LeftOutFilesNeverStopTheRest", [&](ScriptedCase& c) {
        c.files = {"A061505.xml", "GSE_A061505.xml", "gse_a061505.xml", tooLong};
        AppendStore(c.afterLogIn, "226 Transfer complete.", "213 10");
        AppendStore(c.afterLogIn, "226 Transfer complete.", "213 10");
        c.status = kUploadLeftOut;
        c.lines = {"\"" + tooLong + "\" is not listed: its name is longer than the 100 characters the file log holds. "
                   "\"gse_a061505.xml\" is not listed: its name differs from \"GSE_A061505.xml\" only in letter case.",
                   "All Finished!"};
        c.marked = {"A061505.xml", "GSE_A061505.xml"};
    });
    return cases;
}

class UnattendedScripted : public ::testing::TestWithParam<ScriptedCase> {};

TEST_P(UnattendedScripted, SaysWhatHappenedAndMarksOnlyWhatTheServerConfirmed) {
    const ScriptedCase& c = GetParam();
    std::vector<ScriptStep> script = LoggedIn();
    script.insert(script.end(), c.afterLogIn.begin(), c.afterLogIn.end());
    ScriptedFtpServer server(script);
    UploadFolder s(0);
    for (const std::string& name : c.files) s.AddFile(name, std::string(10, 'x'));
    // A regular file named as the transfer list once cut a long name: it
    // must never be sent in the long name's place.
    std::ofstream(fs::path(s.w.Folder().SourcePath()) / "VERYLONGEXTRACTNAME_06150", std::ios::binary) << "other";
    LoginToPort(s, server.Port(), c.remoteFolder, c.options);

    Command run(s.UploadArgs());

    EXPECT_EQ(run.Wait(), c.status);
    EXPECT_EQ(run.Err(), c.lines);
    EXPECT_EQ(server.Failure(), "");
    Strings marked;
    for (const Strings& record : s.FileLog()) marked.push_back(record.size() > 1 ? record[1] : "<none>");
    EXPECT_EQ(marked, c.marked);
    for (const Strings& row : s.UpLog()) EXPECT_EQ(row.back(), c.uploadedBy);
    Strings stored;
    for (const std::string& command : server.Commands())
        if (command.rfind("STOR ", 0) == 0) stored.push_back(command.substr(5));
    for (const std::string& name : stored)
        EXPECT_NE(std::find(c.files.begin(), c.files.end(), name), c.files.end()) << "sent: " << name;
    EXPECT_EQ(server.Data().find("other"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Cases, UnattendedScripted, ::testing::ValuesIn(ScriptedCases()),
                         [](const auto& info) { return std::string(info.param.title); });

TEST(UnattendedLock, TheSecondCommandOnAFolderRefusesAndNothingIsSentTwice) {
    REQUIRE_OWN_NETWORK_NAMESPACE();
    UploadFolder s;
    auto server = Vsftpd(s, kSlowLogin);
    s.Login();
    Command first(s.UploadArgs());
    ASSERT_TRUE(WaitForLogIn(*server));

    Command second(s.UploadArgs());
    EXPECT_EQ(second.Wait(), kUploadInProgress);
    EXPECT_EQ(second.Err(), Strings{"Another upload is in progress for this program folder."});

    EXPECT_EQ(first.Wait(), kUploadFinished);
    EXPECT_EQ(first.Err(), Strings{"All Finished!"});
    EXPECT_EQ(server->LoggedCommands(), ExpectedCommands(s.names));   // one log-in, each file once
    s.ExpectArrived(server->RootDir());
    s.ExpectMarked(3);
    EXPECT_EQ(s.UpLog().size(), 4u);
}

TEST(UnattendedLock, TheWindowRefusesWhileACommandRuns) {
    REQUIRE_OWN_NETWORK_NAMESPACE();
    UploadFolder s;
    auto server = Vsftpd(s, kSlowLogin);
    s.Login();
    TForm1& form = s.w.Show();
    s.w.Messages().shown.clear();
    const std::string labelBefore = form.Label3->text().toStdString();
    Command command(s.UploadArgs());
    ASSERT_TRUE(WaitForLogIn(*server));

    QTest::mouseClick(form.BitBtn1, Qt::LeftButton);

    EXPECT_EQ(s.w.Messages().shown, Strings{"report:Another upload is in progress for this program folder."});
    EXPECT_TRUE(form.BitBtn1->isEnabled());
    EXPECT_TRUE(form.BitBtn2->isEnabled());
    EXPECT_FALSE(form.ProgressBar1->isVisibleTo(&form));
    EXPECT_EQ(form.Label3->text().toStdString(), labelBefore);
    EXPECT_EQ(command.Wait(), kUploadFinished);
    EXPECT_EQ(server->LoggedCommands(), ExpectedCommands(s.names));
    s.ExpectMarked(3);
    EXPECT_EQ(s.UpLog().size(), 4u);
}

TEST(UnattendedLock, ACommandRefusesWhileTheWindowRuns) {
    // The window's run waits for the server's answer to USER, handling its
    // events meanwhile; one of them starts the command.
    ScriptedFtpServer slow([] {
        using Action = ScriptStep::Action;
        return std::vector<ScriptStep>{Greeting("220 Scripted."),
                                       Answer("331 Please specify the password.", Action::WaitForSignal),
                                       Answer("230 Login successful."), Answer("200 Switching to Binary mode."),
                                       Answer("215 UNIX Type: L8"), Answer("227 Entering Passive Mode ({PASV})."),
                                       Answer("150 Ok to send data.", Action::ReceiveData),
                                       ScriptStep{false, "226 Transfer complete.\r\n", Action::None},
                                       Answer("213 1007")};
    }());
    UploadFolder s(1);
    s.Login(kFtpPassword, "");
    TForm1& form = s.w.Show();
    s.w.Messages().shown.clear();
    form.NetFTP1.SetPort(slow.Port());
    form.NetFTP1.SetReadTimeout(30000);
    int commandStatus = -1;
    Strings commandLines;
    QTimer::singleShot(0, &form, [&] {
        Command command(s.UploadArgs());
        commandStatus = command.Wait();
        commandLines = command.Err();
        slow.Signal();
    });

    QTest::mouseClick(form.BitBtn1, Qt::LeftButton);

    EXPECT_EQ(commandStatus, kUploadInProgress);
    EXPECT_EQ(commandLines, Strings{"Another upload is in progress for this program folder."});
    EXPECT_EQ(s.w.Messages().shown, Strings{"plain:All Finished!"});
    EXPECT_EQ(Count(slow.Commands(), "STOR"), 1u);
    EXPECT_EQ(Count(slow.Commands(), "USER"), 1u);
    s.ExpectMarked(1);
    EXPECT_EQ(s.UpLog().size(), 2u);
}

TEST(UnattendedLock, AKilledRunLeavesNoLockBehind) {
    REQUIRE_OWN_NETWORK_NAMESPACE();
    UploadFolder s;
    {
        auto server = Vsftpd(s, kSlowLogin);
        s.Login();
        Command killed(s.UploadArgs());
        ASSERT_TRUE(WaitForLogIn(*server));
        ASSERT_EQ(::kill(killed.Pid(), SIGKILL), 0);
        EXPECT_EQ(killed.Wait(), -1);
    }
    EXPECT_TRUE(fs::exists(s.Folder() + kFolderLockName));
    EXPECT_TRUE(TFolderLock(s.Folder()).Held());
    EXPECT_TRUE(s.FileLog().empty());

    auto server = Vsftpd(s);
    Command next(s.UploadArgs());
    EXPECT_EQ(next.Wait(), kUploadFinished);
    s.ExpectArrived(server->RootDir());
    s.ExpectMarked(3);
}

TEST(FolderLock, OneHolderPerFolderUntilItLetsGo) {
    ProgramFolder folder;
    {
        TFolderLock first(folder.Path());
        ASSERT_TRUE(first.Held());
        // A second open of the lock file, in this process or another, is refused.
        EXPECT_FALSE(TFolderLock(folder.Path()).Held());
        const std::string path = folder.Path().substr(0, folder.Path().size() - 1);   // without the separator
        EXPECT_FALSE(TFolderLock(path).Held());
        // Another process's byte-range lock on the first byte (the kind Wine
        // makes of LockFileEx, and Samba of a Windows client's lock) is refused.
        const std::string lockf =
            "python3 -c 'import fcntl,sys; fcntl.lockf(open(sys.argv[1],\"r+\"), fcntl.LOCK_EX|fcntl.LOCK_NB, 1, 0)' ";
        EXPECT_NE(std::system((lockf + Quoted(folder.Path() + kFolderLockName) + " 2>/dev/null").c_str()), 0);
    }
    EXPECT_TRUE(TFolderLock(folder.Path()).Held());
    EXPECT_THROW(TFolderLock((folder.Root() / "no-such-folder").string()), EFolderLockError);
}

// The desk account may write the files `qeladmin init` made (the tables and
// the lock file) but not the folder: the lock is still taken.
TEST(FolderLock, TakenWhereOnlyTheFilesAreWritable) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another account";
    ProgramFolder folder;
    constexpr uid_t kDesk = 65534;   // nobody
    for (const auto& entry : fs::directory_iterator(folder.Path()))
        ASSERT_EQ(::chown(entry.path().c_str(), kDesk, kDesk), 0) << entry.path();
    ASSERT_EQ(::chmod(folder.Root().c_str(), 0755), 0);   // the way in
    ASSERT_EQ(::chmod(folder.Path().c_str(), 0755), 0);   // the folder stays root's
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(kDesk) != 0 || ::setuid(kDesk) != 0) ::_exit(3);
        try {
            ::_exit(TFolderLock(folder.Path()).Held() ? 0 : 1);
        } catch (...) {
            ::_exit(2);
        }
    }
    int raw = 0;
    while (::waitpid(child, &raw, 0) < 0 && errno == EINTR) {}
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << "child status " << raw;
}

}  // namespace
