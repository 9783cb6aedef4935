// The real window while a run waits for a scripted server: the user's
// gestures in the grid cannot steer the run or the file log, and a server's
// text is shown as plain text.
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "UploadTestSupport.h"
#include "app/PartsProgressBar.h"
#include "app/TransferGrid.h"
#include "app/TransferListModel.h"
#include "data/values/DateTime.h"
#include "tests/support/ScriptedFtpServer.h"
#include "upload/LoginCrypt.h"

namespace fs = std::filesystem;
using namespace qztest;
using qz::test::Answer;
using qz::test::Greeting;
using qz::test::ScriptedFtpServer;
using qz::test::ScriptStep;
using Action = ScriptStep::Action;
using Strings = std::vector<std::string>;

namespace {

// ---- the grid during a held STOR ----------------------------------------------

constexpr int kFiles = 4;

std::string FileName(int i) { return "F" + std::to_string(i) + "061505.xml"; }
std::string Content(int i) { return std::string(static_cast<std::size_t>(100 * i), static_cast<char>('a' + i)); }

// Four files; the server reads the first STOR and answers it only once
// Signal() is called.
std::vector<ScriptStep> HeldFirstStor() {
    std::vector<ScriptStep> script = LoggedIn();
    for (int i = 1; i <= kFiles; ++i) {
        script.push_back(Answer("227 Entering Passive Mode ({PASV})."));
        if (i == 1) {
            script.push_back(ScriptStep{true, "", Action::WaitForSignal});
            script.push_back(ScriptStep{false, "150 Ok to send data.\r\n", Action::ReceiveData});
        } else {
            script.push_back(Answer("150 Ok to send data.", Action::ReceiveData));
        }
        script.push_back(ScriptStep{false, "226 Transfer complete.\r\n", Action::None});
        script.push_back(Answer("213 " + std::to_string(Content(i).size())));
    }
    return script;
}

// The first file stored and its size confirmed.
std::vector<ScriptStep> FirstFileStored() {
    std::vector<ScriptStep> script = LoggedIn();
    script.push_back(Answer("227 Entering Passive Mode ({PASV})."));
    script.push_back(Answer("150 Ok to send data.", Action::ReceiveData));
    script.push_back(ScriptStep{false, "226 Transfer complete.\r\n", Action::None});
    script.push_back(Answer("213 " + std::to_string(Content(1).size())));
    return script;
}

struct GestureCase {
    const char* title;
    std::function<void(WindowFixture&, TForm1&)> act;
    Strings messages;   // shown before "All Finished!"
};

std::ostream& operator<<(std::ostream& out, const GestureCase& c) { return out << c.title; }

void ClickRow(TForm1& form, int row) {
    const QRect rect = form.DBGrid3->visualRect(form.DataSource2().index(row, 1));
    QTest::mouseClick(form.DBGrid3->viewport(), Qt::LeftButton, {}, rect.center());
}

std::vector<GestureCase> GestureCases() {
    return {
        {"ClickOnTheLastRow", [](WindowFixture&, TForm1& form) { ClickRow(form, kFiles - 1); }, {}},
        {"ArrowKeys",
         [](WindowFixture& w, TForm1& form) {
             form.DBGrid3->setFocus();
             w.Press(form.DBGrid3, Qt::Key_Down);
             w.Press(form.DBGrid3, Qt::Key_Down);
             w.Press(form.DBGrid3, Qt::Key_End);
             w.Press(form.DBGrid3, Qt::Key_Up);
         },
         {}},
        {"CtrlDeleteOfASelectedRow",
         [](WindowFixture& w, TForm1& form) {
             form.DBGrid3->setFocus();
             ClickRow(form, 2);
             w.Press(form.DBGrid3, Qt::Key_Delete, Qt::ControlModifier);
         },
         {"beep"}},
        {"CtrlDeleteOfTheCurrentRow",
         [](WindowFixture& w, TForm1& form) {
             form.DBGrid3->setFocus();
             form.DBGrid3->clearSelection();
             w.Press(form.DBGrid3, Qt::Key_Delete, Qt::ControlModifier);
             ClickRow(form, 0);
             w.Press(form.DBGrid3, Qt::Key_Delete, Qt::ControlModifier);
         },
         {"beep", "beep"}},
    };
}

class GridDuringHeldStor : public ::testing::TestWithParam<GestureCase> {};

TEST_P(GridDuringHeldStor, NeitherSteersTheRunNorTheMarks) {
    const GestureCase& c = GetParam();
    ScriptedFtpServer server(HeldFirstStor());
    WindowFixture w;
    w.WriteUsualSettings();
    for (int i = 1; i <= kFiles; ++i) {
        w.Folder().AddExtract(FileName(i), StrToDate("06/15/05"));
        std::ofstream(fs::path(w.Folder().SourcePath()) / FileName(i), std::ios::binary) << Content(i);
    }
    WriteLoginFile(w.Folder().Path());
    TForm1& form = w.Show();
    w.Messages().shown.clear();
    w.Messages().confirmAnswer = true;
    form.NetFTP1.SetPort(server.Port());
    form.NetFTP1.SetReadTimeout(30000);   // a broken anti-freeze ends in "Read Timeout", not a hang

    // Once the first STOR is held, the user acts, then the server answers.
    bool acted = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &form, [&] {
        const Strings seen = server.Commands();
        if (acted || seen.empty() || seen.back() != "STOR " + FileName(1)) return;
        acted = true;
        EXPECT_TRUE(form.UploadRunning());
        c.act(w, form);
        server.Signal();
    });
    poll.start(5);

    QTest::mouseClick(form.BitBtn1, Qt::LeftButton);
    poll.stop();
    server.WaitDone();

    EXPECT_TRUE(acted);
    Strings messages = c.messages;
    messages.push_back("plain:All Finished!");
    EXPECT_EQ(w.Messages().shown, messages);
    EXPECT_EQ(server.Failure(), "");
    Strings commands{"USER hotel", "PASS secret", "TYPE I", "SYST"};
    std::string data;
    for (int i = 1; i <= kFiles; ++i) {
        commands.insert(commands.end(), {"PASV", "STOR " + FileName(i), "SIZE " + FileName(i)});
        data += Content(i);
    }
    EXPECT_EQ(server.Commands(), commands);
    EXPECT_TRUE(server.Data() == data) << server.Data().size() << " bytes received of " << data.size();

    // Every file the run stored is marked, and only those.
    const auto fileLog = Records(w.Folder().Path() + "FILELOG.DBF");
    ASSERT_EQ(fileLog.size(), static_cast<std::size_t>(kFiles));
    for (int i = 0; i < kFiles; ++i) {
        EXPECT_EQ(fileLog[i].at(1), FileName(i + 1));
        EXPECT_EQ(fileLog[i].at(3), "YES");
    }
    EXPECT_EQ(Records(w.Folder().Path() + "ZAVSYS.DBF").at(0).at(3), TodayYmd());
    EXPECT_EQ(form.MemTable_Import.Rows().size(), static_cast<std::size_t>(kFiles));   // nothing deleted
    EXPECT_EQ(form.DataSource2().rowCount(), kFiles);
    EXPECT_EQ(form.ProgressBar1->PartsComplete(), kFiles);
    EXPECT_TRUE(form.BitBtn2->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(Gestures, GridDuringHeldStor, ::testing::ValuesIn(GestureCases()),
                         [](const auto& info) { return std::string(info.param.title); });

// After the run the grid deletes rows again, as before it.
TEST(GridAfterTheRun, DeletesRowsAgain) {
    ScriptedFtpServer server(FirstFileStored());
    WindowFixture w;
    w.WriteUsualSettings();
    w.Folder().AddExtract(FileName(1), StrToDate("06/15/05"));
    std::ofstream(fs::path(w.Folder().SourcePath()) / FileName(1), std::ios::binary) << Content(1);
    WriteLoginFile(w.Folder().Path());
    TForm1& form = w.Show();
    form.NetFTP1.SetPort(server.Port());
    QTest::mouseClick(form.BitBtn1, Qt::LeftButton);
    w.Messages().shown.clear();
    form.DBGrid3->setFocus();
    w.Press(form.DBGrid3, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(w.Messages().shown, Strings{"confirm:Delete record?"});
    EXPECT_TRUE(form.MemTable_Import.Rows().empty());
}

// ---- a source folder given relative to the program folder ----------------------

// The scan changes into the folder; the run must still open the files it
// listed, and Save must still find the folder as typed.
TEST(RelativeSourceFolder, IsListedSavedAndUploadedFromTheProgramFolder) {
    ScriptedFtpServer server(FirstFileStored());
    WindowFixture w;
    // "src/" named again from inside itself would be src/src/: no folder.
    const fs::path source = fs::path(w.Folder().Path()) / "src";
    fs::create_directory(source);
    std::ofstream(source / FileName(1), std::ios::binary) << Content(1);
    w.Folder().WriteSettings({"ABC", "ABC", "OnQ", "06/16/05", "src/", ""});
    WriteLoginFile(w.Folder().Path());
    TForm1& form = w.Show();
    EXPECT_EQ(w.Messages().shown, Strings{});
    ASSERT_EQ(form.MemTable_Import.Rows().size(), 1u);

    w.ClickTab(1);
    form.BitBtn4->click();
    EXPECT_EQ(w.Messages().shown, Strings{});
    EXPECT_EQ(form.PageControl1->currentIndex(), 0);
    EXPECT_EQ(Records(w.Folder().Path() + "ZAVSYS.DBF").at(0).at(4), "src/");   // kept as typed

    form.NetFTP1.SetPort(server.Port());
    QTest::mouseClick(form.BitBtn1, Qt::LeftButton);
    server.WaitDone();
    EXPECT_EQ(w.Messages().shown, Strings{"plain:All Finished!"});
    EXPECT_TRUE(server.Data() == Content(1));
    EXPECT_EQ(Records(w.Folder().Path() + "FILELOG.DBF").at(0).at(3), "YES");
}

// ---- server text in message boxes ---------------------------------------------

TEST(ServerTextInABox, IsShownAsPlainText) {
    const std::string reply = "<a href=\"http://example.invalid/\">Click here</a> <b>to log in</b>";
    ScriptedFtpServer server({Greeting("220 Scripted."), Answer("530 " + reply)});
    const fs::path previousDir = fs::current_path();
    ProgramFolder folder;
    folder.WriteSettings({"ABC", "ABC", "OnQ", "06/16/05", folder.SourcePath(), ""});
    folder.AddExtract(FileName(1), StrToDate("06/15/05"));
    WriteLoginFile(folder.Path());
    {
        TForm1 form(folder.Path());   // the real message boxes
        form.show();
        (void)QTest::qWaitForWindowExposed(&form);
        form.NetFTP1.SetPort(server.Port());

        struct Seen {
            std::string text, labelText;
            Qt::TextFormat format, labelFormat;
        };
        std::vector<Seen> boxes;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &form, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            const auto* label = box->findChild<QLabel*>("qt_msgbox_label");
            boxes.push_back({box->text().toStdString(), label ? label->text().toStdString() : std::string(),
                             box->textFormat(), label ? label->textFormat() : Qt::AutoText});
            box->done(QMessageBox::Ok);
        });
        poll.start(5);
        QTest::mouseClick(form.BitBtn1, Qt::LeftButton);
        poll.stop();

        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, reply + "\r\n");
        EXPECT_EQ(boxes[0].format, Qt::PlainText);
        EXPECT_EQ(boxes[0].labelFormat, Qt::PlainText);
        EXPECT_EQ(boxes[0].labelText, reply + "\r\n");
    }
    fs::current_path(previousDir);
}

}  // namespace
