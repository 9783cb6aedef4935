// The grid's confirmed deletion, Escape and Enter on each page, the tab
// order, and the hidden controls that the keyboard never reaches.
#include <gtest/gtest.h>

#include <set>

#include <QLabel>

#include "AppTestSupport.h"
#include "app/PartsProgressBar.h"
#include "app/TransferGrid.h"
#include "app/TransferListModel.h"

namespace {

using namespace qztest;

TForm1& ShowWithFiles(WindowFixture& w, int files) {
    w.WriteUsualSettings();
    for (int i = 0; i < files; ++i) w.Folder().AddExtract("F" + std::to_string(i) + "061505.xml", StrToDate("06/15/05"));
    TForm1& form = w.Show();
    w.Messages().shown.clear();
    return form;
}

std::vector<std::string> ListedNames(TForm1& form) {
    std::vector<std::string> names;
    for (const auto& row : form.MemTable_Import.Rows()) names.push_back(row.FileName);
    return names;
}

struct DeleteCase {
    const char* title;
    std::vector<int> selected;   // rows selected with Ctrl+click; empty: only the current row
    bool ok;
    std::string question;
    std::vector<std::string> left;
};

std::ostream& operator<<(std::ostream& out, const DeleteCase& c) { return out << c.title; }

class GridDelete : public ::testing::TestWithParam<DeleteCase> {};

TEST_P(GridDelete, AsksThenDeletes) {
    const DeleteCase& c = GetParam();
    WindowFixture w;
    TForm1& form = ShowWithFiles(w, 4);
    w.Messages().confirmAnswer = c.ok;
    form.DBGrid3->setFocus();
    form.DBGrid3->clearSelection();
    form.DBGrid3->selectionModel()->setCurrentIndex(form.DataSource2().index(1, 0), QItemSelectionModel::NoUpdate);
    for (int row : c.selected) {
        const QRect rect = form.DBGrid3->visualRect(form.DataSource2().index(row, 1));
        QTest::mouseClick(form.DBGrid3->viewport(), Qt::LeftButton, Qt::ControlModifier, rect.center());
    }
    w.Press(form.DBGrid3, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(w.Messages().shown, (std::vector<std::string>{"confirm:" + c.question}));
    EXPECT_EQ(ListedNames(form), c.left);
    EXPECT_EQ(form.DataSource2().rowCount(), static_cast<int>(c.left.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GridDelete,
    ::testing::Values(
        DeleteCase{"SelectedRowsOk", {0, 2}, true, "Delete all selected records?",
                   {"F1061505.xml", "F3061505.xml"}},
        DeleteCase{"SelectedRowsCancel", {0, 2}, false, "Delete all selected records?",
                   {"F0061505.xml", "F1061505.xml", "F2061505.xml", "F3061505.xml"}},
        DeleteCase{"OneSelectedRowOk", {2}, true, "Delete record?", {"F0061505.xml", "F1061505.xml", "F3061505.xml"}},
        DeleteCase{"CurrentRowOk", {}, true, "Delete record?", {"F0061505.xml", "F2061505.xml", "F3061505.xml"}},
        DeleteCase{"CurrentRowCancel", {}, false, "Delete record?",
                   {"F0061505.xml", "F1061505.xml", "F2061505.xml", "F3061505.xml"}}),
    [](const auto& info) { return std::string(info.param.title); });

TEST(Grid, RowSelectedByTheArrowKeysGetsTheSingularPrompt) {
    WindowFixture w;
    TForm1& form = ShowWithFiles(w, 3);
    form.DBGrid3->setFocus();
    w.Press(form.DBGrid3, Qt::Key_Down);   // selects the second row
    ASSERT_EQ(form.DBGrid3->selectionModel()->selectedRows().size(), 1);
    w.Press(form.DBGrid3, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(w.Messages().shown, (std::vector<std::string>{"confirm:Delete record?"}));
    EXPECT_EQ(ListedNames(form), (std::vector<std::string>{"F0061505.xml", "F2061505.xml"}));
}

TEST(Grid, CtrlDeleteOnAnEmptyListDoesNothing) {
    WindowFixture w;
    TForm1& form = ShowWithFiles(w, 0);
    form.DBGrid3->setFocus();
    w.Press(form.DBGrid3, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_TRUE(w.Messages().shown.empty());
}

TEST(Grid, EveryRowDeletedLeavesAnOpenEmptyList) {
    WindowFixture w;
    TForm1& form = ShowWithFiles(w, 2);
    form.DBGrid3->setFocus();
    form.DBGrid3->selectAll();
    w.Press(form.DBGrid3, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_TRUE(form.MemTable_Import.Active());
    EXPECT_EQ(form.MemTable_Import.RecNo(), -1);
    w.Press(form.DBGrid3, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(w.Messages().shown.size(), 1u);
}

TEST(Grid, KeyboardMovesTheCurrentRowAndTabLeaves) {
    WindowFixture w;
    TForm1& form = ShowWithFiles(w, 3);
    form.DBGrid3->setFocus();
    EXPECT_EQ(form.MemTable_Import.RecNo(), 1);
    w.Press(form.DBGrid3, Qt::Key_Down);
    w.Press(form.DBGrid3, Qt::Key_Down);
    EXPECT_EQ(form.MemTable_Import.RecNo(), 3);
    w.Press(form.DBGrid3, Qt::Key_Up);
    EXPECT_EQ(form.MemTable_Import.RecNo(), 2);
    w.Press(form.DBGrid3, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), form.BitBtn1);
}

TEST(Keys, EscapeOnTheFirstPageQuits) {
    WindowFixture w;
    TForm1& form = ShowWithFiles(w, 1);
    form.DBGrid3->setFocus();
    ASSERT_TRUE(form.DbfUpLog.Active());
    w.Press(form.DBGrid3, Qt::Key_Escape);
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(form.DbfUpLog.Active());   // FormClose ran
}

TEST(Keys, QuitButtonClosesLikeTheCloseBox) {
    WindowFixture w;
    TForm1& form = ShowWithFiles(w, 1);
    QTest::mouseClick(form.BitBtn2, Qt::LeftButton);
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(form.DbfUpLog.Active());
}

TEST(Keys, CloseLosesAnUnsavedEdit) {
    WindowFixture w;
    TForm1& form = ShowWithFiles(w, 0);
    w.ClickTab(1);
    w.ClearAndType(form.DBEdit1, "new");
    w.Leave(form.DBEdit1);
    form.close();
    EXPECT_EQ(w.Folder().ReadSetting("LOCCODE"), "ABC");
}

struct PageKeyCase {
    const char* title;
    const char* focus;   // control that has the focus
    Qt::Key key;
    int pageAfter;
    TDataSetState stateAfter;
    bool stillVisible;
};

std::ostream& operator<<(std::ostream& out, const PageKeyCase& c) { return out << c.title; }

class ConfigurationKeys : public ::testing::TestWithParam<PageKeyCase> {};

TEST_P(ConfigurationKeys, EscapeCancelsEnterSaves) {
    const PageKeyCase& c = GetParam();
    WindowFixture w;
    TForm1& form = ShowWithFiles(w, 0);
    w.ClickTab(1);
    auto* control = form.findChild<QWidget*>(c.focus);
    ASSERT_NE(control, nullptr);
    control->setFocus(Qt::OtherFocusReason);
    w.Press(control, c.key);
    EXPECT_EQ(form.PageControl1->currentIndex(), c.pageAfter);
    EXPECT_EQ(form.DbfZAVSys.State(), c.stateAfter);
    EXPECT_EQ(form.isVisible(), c.stillVisible);
    EXPECT_TRUE(w.Messages().shown.empty()) << w.Messages().shown.front();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConfigurationKeys,
    ::testing::Values(
        PageKeyCase{"EscapeInAnEdit", "DBEdit1", Qt::Key_Escape, 0, TDataSetState::Browsing, true},
        PageKeyCase{"EscapeInTheDropDown", "DBComboBox1", Qt::Key_Escape, 0, TDataSetState::Browsing, true},
        PageKeyCase{"EscapeOnSave", "BitBtn4", Qt::Key_Escape, 0, TDataSetState::Browsing, true},
        PageKeyCase{"EnterInAnEdit", "DBEdit3", Qt::Key_Return, 0, TDataSetState::Browsing, true},
        PageKeyCase{"KeypadEnterInAnEdit", "DBEdit1", Qt::Key_Enter, 0, TDataSetState::Browsing, true},
        PageKeyCase{"EnterOnCancel", "BitBtn6", Qt::Key_Return, 0, TDataSetState::Browsing, true},
        PageKeyCase{"EnterOnResetPath", "Button1", Qt::Key_Return, 1, TDataSetState::Editing, true}),
    [](const auto& info) { return std::string(info.param.title); });

TEST(Keys, SaveIsTheOnlyDefaultButtonWhereverTheFocusGoes) {
    WindowFixture w;
    TForm1& form = ShowWithFiles(w, 1);
    w.ClickTab(1);
    for (QWidget* focus : std::initializer_list<QWidget*>{form.BitBtn6, form.Button1, form.BitBtn5, form.BitBtn4,
                                                          form.BitBtn6, form.DBEdit1}) {
        focus->setFocus(Qt::TabFocusReason);
        for (QPushButton* button : form.findChildren<QPushButton*>()) {
            const std::string where = button->objectName().toStdString() + " with the focus on " +
                                      focus->objectName().toStdString();
            EXPECT_FALSE(button->autoDefault()) << where;
            EXPECT_EQ(button->isDefault(), button == form.BitBtn4) << where;
        }
    }
}

TEST(Keys, EnterPressesTheFocusedButton) {
    WindowFixture w;
    TForm1& form = ShowWithFiles(w, 1);
    int runs = 0;
    form.SetUploadRun([&](TForm1&) { ++runs; });
    form.BitBtn1->setFocus(Qt::TabFocusReason);
    w.Press(form.BitBtn1, Qt::Key_Return);
    EXPECT_EQ(runs, 1);
    w.ClickTab(1);
    w.pickedFolder = std::nullopt;
    form.BitBtn5->setFocus(Qt::TabFocusReason);
    w.Press(form.BitBtn5, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(form.PageControl1->currentIndex(), 1);   // the picker, not Save
    EXPECT_EQ(form.DbfZAVSys.State(), TDataSetState::Editing);
}

TEST(Keys, EnterOnTheFirstPageDoesNothing) {
    WindowFixture w;
    TForm1& form = ShowWithFiles(w, 1);
    form.DBGrid3->setFocus();
    w.Press(form.DBGrid3, Qt::Key_Return);
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.PageControl1->currentIndex(), 0);
    EXPECT_TRUE(w.Messages().shown.empty());
}

TEST(Keys, EscapeDoesNothingWhileQuitIsDisabled) {
    WindowFixture w;
    TForm1& form = ShowWithFiles(w, 1);
    form.BitBtn2->setEnabled(false);
    form.DBGrid3->setFocus();
    w.Press(form.DBGrid3, Qt::Key_Escape);
    EXPECT_TRUE(form.isVisible());
}

std::vector<std::string> TabCycle(TForm1& form, QWidget* start, int presses) {
    std::vector<std::string> seen;
    start->setFocus(Qt::TabFocusReason);
    for (int i = 0; i < presses; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        seen.push_back(QApplication::focusWidget()->objectName().toStdString());
    }
    (void)form;
    return seen;
}

TEST(Keys, TabOrderOfEachPageSkipsHiddenControls) {
    WindowFixture w;
    TForm1& form = ShowWithFiles(w, 1);
    const auto filesPage = TabCycle(form, form.DBGrid3, 2);
    EXPECT_EQ(filesPage, (std::vector<std::string>{"BitBtn1", "BitBtn2"}));
    w.ClickTab(1);
    const auto configuration = TabCycle(form, form.DBEdit1, 9);
    EXPECT_EQ(configuration, (std::vector<std::string>{"DBEdit8", "DBComboBox1", "DBEdit2", "DBEdit3", "DBEdit7",
                                                       "BitBtn5", "Button1", "BitBtn4", "BitBtn6"}));
}

TEST(Keys, HiddenControlsNeverReached) {
    WindowFixture w;
    TForm1& form = ShowWithFiles(w, 1);
    std::set<std::string> reached;
    for (int page : {0, 1}) {
        w.ClickTab(page);
        QWidget* start = page == 0 ? static_cast<QWidget*>(form.DBGrid3) : form.DBEdit1;
        for (const auto& name : TabCycle(form, start, 40)) reached.insert(name);
        start->setFocus(Qt::TabFocusReason);
        for (int i = 0; i < 40; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
            reached.insert(QApplication::focusWidget()->objectName().toStdString());
        }
    }
    for (const char* hidden : {"Label5", "DBEdit4", "BitBtn3", "Label6", "DBEdit5", "FileListBox1", "DBEdit6"})
        EXPECT_EQ(reached.count(hidden), 0u) << hidden;
    for (const char* name : {"Label5", "DBEdit4", "BitBtn3", "Label6", "DBEdit5", "FileListBox1"})
        EXPECT_FALSE(form.findChild<QWidget*>(name)->isVisible()) << name;
}

TEST(ProgressBar, CountsParts) {
    TPartsProgressBar bar;
    EXPECT_EQ(bar.TotalParts(), 0);
    EXPECT_EQ(bar.PercentComplete(), 0);
    bar.SetTotalParts(4);
    bar.SetPartsComplete(1);
    EXPECT_EQ(bar.PercentComplete(), 25);
    EXPECT_EQ(bar.text(), "25%");
    bar.SetPartsComplete(9);
    EXPECT_EQ(bar.PartsComplete(), 4);
    bar.SetTotalParts(4);
    EXPECT_EQ(bar.PartsComplete(), 4);   // same total: the count stays
    bar.SetTotalParts(3);
    EXPECT_EQ(bar.PartsComplete(), 0);
}

TEST(UploadSeam, UploadButtonRunsThePluggedRunInsideTheGuard) {
    WindowFixture w;
    TForm1& form = ShowWithFiles(w, 1);
    int runs = 0;
    form.SetUploadRun([&](TForm1& f) {
        ++runs;
        f.ProgressBar1->show();
        throw Exception("Connect timed out");
    });
    QTest::mouseClick(form.BitBtn1, Qt::LeftButton);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(w.Messages().shown, (std::vector<std::string>{"report:Connect timed out."}));
}

TEST(ErrorReport, FullStopRule) {
    EXPECT_EQ(ErrorReportText("Read Timeout"), "Read Timeout.");
    EXPECT_EQ(ErrorReportText("Connect timed out."), "Connect timed out.");
    EXPECT_EQ(ErrorReportText("All done!"), "All done!");
    EXPECT_EQ(ErrorReportText("Error #10061"), "Error #10061.");
    EXPECT_EQ(ErrorReportText("Odd -"), "Odd -");
    EXPECT_EQ(ErrorReportText(""), "");
}

}  // namespace
