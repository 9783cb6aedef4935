// The Upload button of the real window against real FTP servers: vsftpd on
// port 21 of the test's own network namespace, and scripted servers for what
// a real one will not do on demand (silence, hang-ups, wrong sizes, delays).
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "UploadTestSupport.h"
#include "app/PartsProgressBar.h"
#include "data/values/DateTime.h"
#include "tests/support/FtpServers.h"
#include "tests/support/ScriptedFtpServer.h"
#include "upload/UploadRun.h"

namespace fs = std::filesystem;
using namespace qztest;
using qz::test::Answer;
using qz::test::FtpServerKind;
using qz::test::Greeting;
using qz::test::RawAnswer;
using qz::test::RealFtpServer;
using qz::test::ScriptedFtpServer;
using qz::test::ScriptStep;
using Action = ScriptStep::Action;
using Strings = std::vector<std::string>;

namespace {

std::string Column(const std::vector<Strings>& records, std::size_t column, std::size_t row) {
    return row < records.size() && column < records[row].size() ? records[row][column] : "<none>";
}

// The program folder with usual settings, extract files and a login file,
// and the window on top of it.
class UploadWindow {
public:
    UploadWindow() { w.WriteUsualSettings(); }

    // An extract file of the given bytes, dated 06/15/05 by its name.
    void AddFile(const std::string& name, const std::string& bytes) {
        AddDatedExtract(w.Folder(), name, bytes);
        names.push_back(name);
        contents.push_back(bytes);
    }
    void AddFiles(int count) {
        for (int i = 1; i <= count; ++i) AddFile("F" + std::to_string(i) + "061505.xml", Bytes(1000u * i + 7, i));
    }
    // The login file, written as the administrator does.
    void Login(const std::string& user, const std::string& password, const std::string& remoteFolder) {
        QeladminLogin(w.Folder().Path(), user, password, remoteFolder);
    }
    TForm1& Show() {
        TForm1& form = w.Show();
        w.Messages().shown.clear();
        return form;
    }
    void PressUpload() { QTest::mouseClick(w.Form().BitBtn1, Qt::LeftButton); }

    std::vector<Strings> FileLog() { return Records(w.Folder().Path() + "FILELOG.DBF"); }
    std::vector<Strings> UpLog() { return Records(w.Folder().Path() + "UPLOG.DBF"); }
    std::string LastCopy() { return Column(Records(w.Folder().Path() + "ZAVSYS.DBF"), 3, 0); }

    WindowFixture w;
    Strings names, contents;
};

TEST(UploadWindow, SendsThreeFilesMarksThemAndLogsTheRun) {
    REQUIRE_OWN_NETWORK_NAMESPACE();
    UploadWindow u;
    RealFtpServer server(FtpServerKind::Vsftpd, ServerRoot(u.w.Folder().Root()), 21);
    u.AddFile("A1061505.xml", Bytes(70000, 1));
    u.AddFile("B2061505.xml", Bytes(1, 2));
    u.AddFile("C3061505.xml", Bytes(4096, 3));
    u.Login(server.User(), kFtpPassword, "incoming");
    TForm1& form = u.Show();
    ASSERT_EQ(form.NetFTP1.Port, 21);

    u.PressUpload();

    EXPECT_EQ(u.w.Messages().shown, Strings{"plain:All Finished!"});
    for (std::size_t i = 0; i < u.names.size(); ++i)
        EXPECT_EQ(ReadFile(fs::path(server.RootDir()) / "incoming" / u.names[i]), u.contents[i]) << u.names[i];
    // vsftpd hides the password in its log.
    Strings expected{"USER anonymous", "PASS <password>", "TYPE I", "SYST", "CWD incoming"};
    for (const std::string& name : u.names) expected.insert(expected.end(), {"PASV", "STOR " + name, "SIZE " + name});
    EXPECT_EQ(server.LoggedCommands(), expected);   // and no QUIT

    const auto fileLog = u.FileLog();
    ASSERT_EQ(fileLog.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(Column(fileLog, 1, i), u.names[i]);
        EXPECT_EQ(Column(fileLog, 2, i), "20050615");
        EXPECT_EQ(Column(fileLog, 3, i), "YES");
    }
    const auto upLog = u.UpLog();
    ASSERT_EQ(upLog.size(), 4u);
    const Strings upNames{"", u.names[0], u.names[1], u.names[2]}, transfered{"0", "0", "1", "2"};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(Column(upLog, 0, i), TodayYmd());
        EXPECT_EQ(Column(upLog, 1, i), "127.0.0.1");
        EXPECT_EQ(Column(upLog, 2, i), upNames[i]);
        EXPECT_EQ(Column(upLog, 4, i), transfered[i]);
        EXPECT_EQ(Column(upLog, 5, i), "XXX");
    }
    EXPECT_EQ(u.LastCopy(), TodayYmd());

    EXPECT_FALSE(form.BitBtn1->isEnabled());
    EXPECT_TRUE(form.BitBtn2->isEnabled());
    EXPECT_TRUE(form.Label9->isVisibleTo(&form));
    EXPECT_TRUE(form.ProgressBar1->isVisibleTo(&form));
    EXPECT_EQ(form.ProgressBar1->TotalParts(), 3);
    EXPECT_EQ(form.ProgressBar1->PartsComplete(), 3);
    EXPECT_EQ(form.Label3->text().toStdString(), "Upload Complete!");
}

// How a failing run is set up: against vsftpd on port 21 (`script` empty) or
// a scripted server reached through the client's port.
struct FailureCase {
    const char* title = "";
    bool loginFile = true;
    int files = 3;
    std::string user = "anonymous", password = kFtpPassword, remoteFolder = "incoming";
    std::vector<ScriptStep> script;
    // The default error report's text ("" for plain messages only). A refused
    // reply's text ends in a line break, so it gets no full stop.
    std::string message;
    Strings plain;          // plain messages shown
    std::size_t auditRows = 0;
    int partsComplete = 0;
    int readTimeoutMs = 0;  // 0: the window's own
    std::string missingFile;   // removed from the source folder after the scan
    std::string blockedName;   // a folder of this name on the server makes its STOR fail
};

FailureCase Named(const char* title) {
    FailureCase c;
    c.title = title;
    return c;
}

std::ostream& operator<<(std::ostream& out, const FailureCase& c) { return out << c.title; }

std::vector<FailureCase> FailureCases() {
    std::vector<FailureCase> cases;
    {
        FailureCase c = Named("NoLoginFileNoRows");
        c.loginFile = false;
        c.files = 0;
        c.plain = {"plain:Not Enough Login Information To Upload!", "plain:No Files To Copy!"};
        cases.push_back(c);
    }
    {
        FailureCase c = Named("NoLoginFileWithRows");
        c.loginFile = false;
        c.plain = {"plain:Not Enough Login Information To Upload!"};
        cases.push_back(c);
    }
    {
        FailureCase c = Named("LogInRefused");
        c.password = "intruder@";
        c.message = "Login incorrect.\r\n";
        c.auditRows = 1;
        cases.push_back(c);
    }
    {
        FailureCase c = Named("CwdRefused");
        c.remoteFolder = "missing";
        c.message = "Failed to change directory.\r\n";
        c.auditRows = 1;
        cases.push_back(c);
    }
    {
        FailureCase c = Named("SecondStorRefused");
        c.blockedName = "F2061505.xml";
        c.message = "The server refused F2061505.xml: Could not create file.";   // which file, not only why
        c.auditRows = 2;
        c.partsComplete = 1;
        cases.push_back(c);
    }
    {
        FailureCase c = Named("ListedFileGone");
        c.missingFile = "F2061505.xml";
        c.message = "Cannot open file <source>F2061505.xml.";
        c.auditRows = 2;
        c.partsComplete = 1;
        cases.push_back(c);
    }
    {
        FailureCase c = Named("ReadTimeout");
        c.script = {Greeting("220 Scripted."), Answer("331 Please specify the password.", Action::Silent)};
        c.readTimeoutMs = 300;
        c.message = "Read Timeout.";
        c.auditRows = 1;
        cases.push_back(c);
    }
    {
        FailureCase c = Named("ServerClosesTheConnection");
        c.script = {Greeting("220 Scripted."), RawAnswer("", Action::CloseControl)};
        c.message = "Connection Closed Gracefully.";
        c.auditRows = 1;
        cases.push_back(c);
    }
    {
        // The server keeps fewer bytes than were sent and says so.
        FailureCase c = Named("StoredSizeDiffers");
        c.files = 1;
        c.remoteFolder = "";
        c.script = LoggedIn();
        c.script.push_back(Answer("227 Entering Passive Mode ({PASV})."));
        c.script.push_back(Answer("150 Ok to send data.", Action::ReceiveData));
        c.script.push_back(ScriptStep{false, "226 Transfer complete.\r\n", Action::None});
        c.script.push_back(Answer("213 999"));
        c.message = SizeMismatchMessage("F1061505.xml", 999, 1007);
        c.auditRows = 2;
        cases.push_back(c);
    }
    return cases;
}

class UploadWindowFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(UploadWindowFailure, StopsWithTheErrorAndMarksNothing) {
    const FailureCase& c = GetParam();
    std::unique_ptr<RealFtpServer> vsftpd;
    std::unique_ptr<ScriptedFtpServer> scripted;
    UploadWindow u;
    if (c.script.empty()) {
        REQUIRE_OWN_NETWORK_NAMESPACE();
        const fs::path denied = u.w.Folder().Root() / "denied-passwords";
        std::ofstream(denied) << "intruder@\n";
        vsftpd = std::make_unique<RealFtpServer>(FtpServerKind::Vsftpd, ServerRoot(u.w.Folder().Root()), 21,
                                                 "deny_email_enable=YES\nbanned_email_file=" + denied.string());
        if (!c.blockedName.empty()) fs::create_directories(fs::path(vsftpd->RootDir()) / "incoming" / c.blockedName);
    } else {
        scripted = std::make_unique<ScriptedFtpServer>(c.script);
    }
    u.AddFiles(c.files);
    if (c.loginFile) u.Login(c.user, c.password, c.remoteFolder);
    TForm1& form = u.Show();
    if (scripted) form.NetFTP1.SetPort(scripted->Port());
    if (c.readTimeoutMs) form.NetFTP1.SetReadTimeout(c.readTimeoutMs);
    if (!c.missingFile.empty()) fs::remove(fs::path(u.w.Folder().SourcePath()) / c.missingFile);
    const std::string labelBefore = form.Label3->text().toStdString();

    u.PressUpload();

    Strings expected = c.plain;
    if (!c.message.empty()) {
        std::string message = c.message;
        if (const auto at = message.find("<source>"); at != std::string::npos)
            message.replace(at, 8, u.w.Folder().SourcePath());
        expected.push_back("report:" + message);
    }
    EXPECT_EQ(u.w.Messages().shown, expected);
    EXPECT_TRUE(u.FileLog().empty());
    EXPECT_EQ(u.LastCopy(), kLastCopyBefore);
    EXPECT_EQ(u.UpLog().size(), c.auditRows);
    EXPECT_FALSE(form.BitBtn1->isEnabled());
    EXPECT_FALSE(form.BitBtn2->isEnabled());
    EXPECT_TRUE(form.ProgressBar1->isVisibleTo(&form));
    EXPECT_EQ(form.ProgressBar1->PartsComplete(), c.partsComplete);
    if (!c.loginFile) {
        EXPECT_EQ(form.Label3->text().toStdString(), labelBefore);
        if (vsftpd) {
            EXPECT_TRUE(vsftpd->LoggedCommands().empty());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, UploadWindowFailure, ::testing::ValuesIn(FailureCases()),
                         [](const auto& info) { return std::string(info.param.title); });

// A name, a path or server text is shown as it is, never as markup: a file
// named like rich text must not show underlined and italic.
TEST(UploadWindow, NamesInTheStatusLabelAreShownAsPlainText) {
    std::vector<ScriptStep> script = LoggedIn();
    script.push_back(Answer("227 Entering Passive Mode ({PASV})."));
    script.push_back(Answer("553 <b>Could not</b> create file."));
    ScriptedFtpServer server(script);
    UploadWindow u;
    u.AddFile("<u><i>DONE061505.xml", "x");
    WriteLoginFile(u.w.Folder().Path());
    TForm1& form = u.Show();
    form.NetFTP1.SetPort(server.Port());

    u.PressUpload();

    EXPECT_EQ(form.Label3->text().toStdString(), "Uploading <u><i>DONE061505.xml");
    for (const QLabel* label : form.findChildren<QLabel*>())
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
    EXPECT_EQ(u.w.Messages().shown,
              Strings{"report:The server refused <u><i>DONE061505.xml: <b>Could not</b> create file."});
    EXPECT_TRUE(u.FileLog().empty());
}

// The user's events while the client waits for the server's reply to USER.
struct DuringWait {
    ScriptedFtpServer server{[] {
        std::vector<ScriptStep> script{Greeting("220 Scripted."),
                                       Answer("331 Please specify the password.", Action::WaitForSignal),
                                       Answer("230 Login successful."), Answer("200 Switching to Binary mode."),
                                       Answer("215 UNIX Type: L8"), Answer("227 Entering Passive Mode ({PASV})."),
                                       Answer("150 Ok to send data.", Action::ReceiveData),
                                       ScriptStep{false, "226 Transfer complete.\r\n", Action::None},
                                       Answer("213 1007")};
        return script;
    }()};
};

TEST(UploadWindow, HandlesEventsWhileTheServerIsSlow) {
    UploadWindow u;
    DuringWait slow;
    u.AddFiles(1);
    u.Login("anonymous", kFtpPassword, "");
    TForm1& form = u.Show();
    form.NetFTP1.SetPort(slow.server.Port());
    form.NetFTP1.SetReadTimeout(30000);   // a broken anti-freeze ends in "Read Timeout", not a hang
    // Posted now, handled only if the window handles events during the run;
    // the server answers USER only once it ran.
    QTimer::singleShot(0, &form, [&] {
        u.w.Messages().shown.push_back("event:" + form.Label3->text().toStdString());
        slow.server.Signal();
    });

    u.PressUpload();

    EXPECT_EQ(u.w.Messages().shown, (Strings{"event:Last Date Files Were Copied:", "plain:All Finished!"}));
    EXPECT_EQ(u.FileLog().size(), 1u);
    EXPECT_TRUE(form.BitBtn2->isEnabled());
}

TEST(UploadWindow, ClosedDuringTheRunStopsAtTheNextAuditRow) {
    UploadWindow u;
    DuringWait slow;
    u.AddFiles(1);
    u.Login("anonymous", kFtpPassword, "");
    TForm1& form = u.Show();
    form.NetFTP1.SetPort(slow.server.Port());
    form.NetFTP1.SetReadTimeout(30000);
    QTimer::singleShot(0, &form, [&] {
        EXPECT_TRUE(form.UploadRunning());
        form.close();   // the close box
        slow.server.Signal();
    });

    u.PressUpload();

    EXPECT_EQ(u.w.Messages().shown,
              Strings{"report:DbfUpLog: Cannot perform this operation on a closed dataset."});
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(form.UploadRunning());
    EXPECT_EQ(u.UpLog().size(), 1u);   // the row before connecting
    EXPECT_TRUE(u.FileLog().empty());
    EXPECT_EQ(u.LastCopy(), kLastCopyBefore);
}

}  // namespace
