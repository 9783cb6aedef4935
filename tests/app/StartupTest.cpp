// Start-up on real program folders: the four states, the first-run prompt,
// the index rebuild and a table that cannot be opened.
#include <gtest/gtest.h>

#include <fstream>

#include "AppTestSupport.h"
#include <QLabel>

#include "app/PartsProgressBar.h"
#include "app/TransferListModel.h"

namespace {

using namespace qztest;

struct StartupCase {
    const char* title;
    std::string locCode;
    bool sourceExists;
    std::string copyTo;
    int page;
    TDataSetState state;
    int rows;
    const char* focus;   // objectName of the window's focus widget, or "" when not moved
    std::vector<std::string> messages;
    std::string copyToAfter;
};

std::ostream& operator<<(std::ostream& out, const StartupCase& c) { return out << c.title; }

class StartupStates : public ::testing::TestWithParam<StartupCase> {};

TEST_P(StartupStates, PageRecordListAndFocus) {
    const StartupCase& c = GetParam();
    WindowFixture w;
    const std::string source = c.sourceExists ? w.Folder().SourcePath() : w.Folder().SourcePath() + "missing/";
    w.Folder().WriteSettings({c.locCode, "", "OnQ", "", source, c.copyTo});
    w.Folder().AddExtract("SALES061505.xml", StrToDate("06/15/05"));
    TForm1& form = w.Show();

    EXPECT_EQ(w.Messages().shown, c.messages);
    EXPECT_EQ(form.PageControl1->currentIndex(), c.page);
    EXPECT_EQ(form.DbfZAVSys.State(), c.state);
    EXPECT_EQ(static_cast<int>(form.MemTable_Import.Rows().size()), c.rows);
    EXPECT_EQ(form.DataSource2().rowCount(), c.rows);
    if (*c.focus) {
        ASSERT_NE(form.focusWidget(), nullptr);
        EXPECT_EQ(form.focusWidget()->objectName().toStdString(), c.focus);
    } else {
        EXPECT_TRUE(form.focusWidget() != form.DBEdit1 && form.focusWidget() != form.DBEdit3);
    }
    EXPECT_EQ(form.DBEdit4->text().toStdString(), c.copyToAfter);
    EXPECT_EQ(form.Values.ProgramFolder, w.Folder().Path());
    EXPECT_EQ(form.Values.LocationCode, c.locCode);
    EXPECT_EQ(form.Values.SourceFolder, source);
    EXPECT_TRUE(form.isVisible());
    // Nothing is written before Save.
    EXPECT_EQ(w.Folder().ReadSetting("COPYTO"), c.copyTo);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StartupStates,
    ::testing::Values(
        StartupCase{"CodeAndFolder", "ABC", true, "", 0, TDataSetState::Browsing, 1, "", {}, ""},
        StartupCase{"NoCodeFolderExists", "", true, "", 1, TDataSetState::Editing, 0, "DBEdit1", {}, "A:\\"},
        StartupCase{"CodeFolderMissing", "ABC", false, "", 1, TDataSetState::Editing, 0, "DBEdit3",
                    {"beep", "plain:Invalid Directory!"}, ""},
        StartupCase{"NoCodeFolderMissing", "", false, "", 1, TDataSetState::Editing, 0, "DBEdit3",
                    {"beep", "plain:Invalid Directory!"}, "A:\\"},
        StartupCase{"FirstRunKeepsCopyTo", "", true, "X:\\OUT\\", 1, TDataSetState::Editing, 0, "DBEdit1", {},
                    "X:\\OUT\\"}),
    [](const auto& info) { return std::string(info.param.title); });

TEST(Startup, EmptySettingsTableStartsANewRecordThatOnlySaveWrites) {
    WindowFixture w;
    TForm1& form = w.Show();
    EXPECT_EQ(w.Messages().shown, (std::vector<std::string>{"beep", "plain:Invalid Directory!"}));
    EXPECT_EQ(form.DbfZAVSys.State(), TDataSetState::Inserting);
    EXPECT_EQ(form.DBEdit4->text().toStdString(), "A:\\");
    EXPECT_FALSE(w.Folder().HasSettingsRecord());

    w.Type(form.DBEdit3, QString::fromStdString(w.Folder().SourcePath()));
    form.BitBtn4->click();
    EXPECT_EQ(form.DbfZAVSys.State(), TDataSetState::Browsing);
    EXPECT_TRUE(w.Folder().HasSettingsRecord());
    EXPECT_EQ(w.Folder().ReadSetting("COPYFROM"), w.Folder().SourcePath());
    EXPECT_EQ(w.Folder().ReadSetting("COPYTO"), "A:\\");
}

TEST(Startup, MissingIndexIsRebuiltAndLoggedFilesFoundAgain) {
    WindowFixture w;
    w.WriteUsualSettings();
    w.Folder().AddFileLog("OLD061505.xml", StrToDate("06/01/05"));
    w.Folder().AddExtract("OLD061505.xml", StrToDate("06/20/05"));
    std::filesystem::remove(w.Folder().Path() + "FILELOG.CDX");
    std::filesystem::remove(w.Folder().Path() + "FileLog.CDX");
    TForm1& form = w.Show();
    EXPECT_TRUE(w.Messages().shown.empty());
    ASSERT_EQ(form.MemTable_Import.Rows().size(), 1u);
    EXPECT_EQ(form.MemTable_Import.Row(0).Copied, "Yes");
    EXPECT_EQ(form.MemTable_Import.Row(0).Date, StrToDate("06/01/05"));
}

TEST(Startup, StrayIndexInTheCurrentDirectoryDoesNotStopTheRebuild) {
    WindowFixture w;
    w.WriteUsualSettings();
    w.Folder().AddFileLog("OLD061505.xml", StrToDate("06/01/05"));
    w.Folder().AddExtract("OLD061505.xml", StrToDate("06/20/05"));
    std::filesystem::remove(w.Folder().Path() + "FILELOG.CDX");
    std::filesystem::remove(w.Folder().Path() + "FileLog.CDX");
    // Another program's index where the program happens to be started.
    const auto elsewhere = w.Folder().Root() / "elsewhere";
    std::filesystem::create_directories(elsewhere);
    std::ofstream(elsewhere / "FileLog.CDX") << "not an index of ours";
    std::filesystem::current_path(elsewhere);
    TForm1& form = w.Show();
    EXPECT_TRUE(w.Messages().shown.empty()) << w.Messages().shown.front();
    EXPECT_TRUE(form.DbfFileLog.Active());
    EXPECT_TRUE(std::filesystem::exists(w.Folder().Path() + "FILELOG.CDX") ||
                std::filesystem::exists(w.Folder().Path() + "FileLog.CDX"));   // rebuilt beside the table
    EXPECT_TRUE(std::filesystem::exists(elsewhere / "FileLog.CDX"));            // and nothing else touched
    ASSERT_EQ(form.MemTable_Import.Rows().size(), 1u);
    EXPECT_EQ(form.MemTable_Import.Row(0).Copied, "Yes");
    EXPECT_EQ(form.MemTable_Import.Row(0).Date, StrToDate("06/01/05"));
}

TEST(Startup, MissingSettingsTableIsReportedOnceNotAtEveryExit) {
    WindowFixture w;
    w.WriteUsualSettings();
    std::filesystem::remove(w.Folder().Path() + "ZAVSYS.DBF");
    TForm1& form = w.Show();
    ASSERT_EQ(w.Messages().shown.size(), 1u);
    EXPECT_EQ(w.Messages().shown[0].rfind("report:DbfZAVSys: ", 0), 0u) << w.Messages().shown[0];
    form.PageControl1->setCurrentIndex(1);
    for (QLineEdit* edit : {form.DBEdit1, form.DBEdit8, form.DBEdit7, form.DBEdit2}) {
        edit->setFocus(Qt::TabFocusReason);
        QTest::keyClicks(edit, "1");
        QTest::keyClick(edit, Qt::Key_Tab);
    }
    form.Button1->click();
    EXPECT_EQ(w.Messages().shown.size(), 1u) << w.Messages().shown.back();
}

TEST(Startup, TableThatCannotOpenIsReportedAndTheWindowStillShows) {
    WindowFixture w;
    w.WriteUsualSettings();
    std::filesystem::remove(w.Folder().Path() + "UPLOG.DBF");
    TForm1& form = w.Show();
    ASSERT_EQ(w.Messages().shown.size(), 1u);
    EXPECT_EQ(w.Messages().shown[0].rfind("report:DbfUpLog: ", 0), 0u) << w.Messages().shown[0];
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(form.DbfUpLog.Active());
    EXPECT_TRUE(form.Values.SourceFolder.empty());   // the sequence ended before it was set
    EXPECT_TRUE(form.MemTable_Import.Rows().empty());
}

TEST(Startup, ScanMessagesComeBeforeTheWindowAndTheListStaysClosedWhenEmpty) {
    WindowFixture w;
    w.WriteUsualSettings();
    TForm1& form = w.Show();
    EXPECT_EQ(w.Messages().shown, (std::vector<std::string>{"error:No Files To Copy!"}));
    EXPECT_EQ(form.MemTable_Import.RecNo(), -1);
    EXPECT_FALSE(form.MemTable_Import.Active());
}

// Fifty refused names: one box before the window, naming the first few and
// how many more; the good file is listed.
TEST(Startup, RefusedNamesOfOneScanShowInOneBox) {
    WindowFixture w;
    w.WriteUsualSettings();
    w.Folder().AddExtract("SALES061505.xml", StrToDate("06/15/05"));
    for (int i = 10; i < 60; ++i) w.Folder().AddExtract("BAD" + std::to_string(i) + "\x01" "061505.xml", StrToDate("06/15/05"));
    TForm1& form = w.Show();
    ASSERT_EQ(w.Messages().shown.size(), 1u);
    const std::string& box = w.Messages().shown[0];
    EXPECT_EQ(box.rfind("error:\"BAD10\\x01061505.xml\" is not listed: its name holds control characters.\n", 0), 0u)
        << box;
    EXPECT_NE(box.find("\n... and 45 more files are not listed."), std::string::npos) << box;
    ASSERT_EQ(form.MemTable_Import.Rows().size(), 1u);
    EXPECT_EQ(form.MemTable_Import.Rows()[0].FileName, "SALES061505.xml");
}

TEST(Startup, WindowLooksAsDefined) {
    WindowFixture w;
    w.WriteUsualSettings();
    w.Folder().AddExtract("SALES061505.xml", StrToDate("06/15/05"));
    TForm1& form = w.Show();
    EXPECT_EQ(form.windowTitle(), "QEL - Extract File Transfer 1.0");
    EXPECT_EQ(form.PageControl1->tabText(0), "Files To Copy");
    EXPECT_EQ(form.PageControl1->tabText(1), "Configuration");
    EXPECT_FALSE(form.ProgressBar1->isVisible());
    EXPECT_TRUE(form.Label9->isVisible());
    EXPECT_EQ(form.Label9->text(), "Transfer Progress:");
    EXPECT_EQ(form.Label3->text(), "Last Date Files Were Copied:");
    EXPECT_EQ(form.Label10->text(), "Hotel Location Code:");
    for (QLabel* label : {form.Label1, form.Label2, form.Label3, form.Label7, form.Label8, form.Label9})
        EXPECT_EQ(label->palette().color(label->foregroundRole()), QColor(Qt::blue)) << label->objectName().toStdString();
    EXPECT_NE(form.Label6->palette().color(form.Label6->foregroundRole()), QColor(Qt::blue));
    EXPECT_TRUE(form.BitBtn1->font().bold());
    EXPECT_FALSE(form.BitBtn1->icon().isNull());
    EXPECT_FALSE(form.BitBtn5->icon().isNull());
    EXPECT_FALSE(form.DBEdit6->isEnabled());
    EXPECT_EQ(form.DBEdit6->text().toStdString(), w.Folder().SourcePath());
    EXPECT_EQ(form.DBComboBox1->count(), 2);
    EXPECT_EQ(form.DBComboBox1->itemText(0), "OnQ");
    EXPECT_EQ(form.DBComboBox1->itemText(1), "Corvane Ledger");
    const char* const names[] = {"GroupBox2", "Label1", "FileListBox1", "PageControl1", "TabSheet1", "DBGrid3",
                                 "Label6", "DBEdit5", "Label7", "DBEdit6", "Label9", "ProgressBar1", "BitBtn1",
                                 "BitBtn2", "TabSheet2", "GroupBox1", "Label2", "DBEdit1", "Label10", "DBEdit8",
                                 "Label148", "DBComboBox1", "Label3", "DBEdit2", "Button1", "BitBtn5", "Label4",
                                 "DBEdit3", "BitBtn3", "Label5", "DBEdit4", "Label8", "DBEdit7", "BitBtn4", "BitBtn6"};
    for (const char* name : names) EXPECT_NE(form.findChild<QWidget*>(name), nullptr) << name;
    auto* model = &form.DataSource2();
    EXPECT_EQ(model->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), "DATE");
    EXPECT_EQ(model->headerData(3, Qt::Horizontal, Qt::DisplayRole).toString(), "COPIED");
    EXPECT_EQ(model->data(model->index(0, 1), Qt::DisplayRole).toString(), "SALES061505.xml");
    EXPECT_EQ(model->data(model->index(0, 3), Qt::TextAlignmentRole).toInt(), int(Qt::AlignCenter));
}

}  // namespace
