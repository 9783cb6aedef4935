// Editing the settings record on the Configuration page, through the real
// controls: derived source folders, Save, Cancel, page tabs, folder pickers,
// the last-copy date check and upper-case edits.
#include <gtest/gtest.h>

#include <fstream>

#include "AppTestSupport.h"

namespace {

using namespace qztest;

// Opens the Configuration page by a mouse click on its tab (editing begins).
TForm1& ShowConfiguration(WindowFixture& w, const SettingsRecord& settings) {
    w.Folder().WriteSettings(settings);
    TForm1& form = w.Show();
    w.Messages().shown.clear();
    w.ClickTab(1);
    return form;
}

std::string CopyFrom(TForm1& form) { return form.DbfZAVSys.ReadText("COPYFROM"); }

enum class Action {
    LeaveLocCode, LeavePropCode, LeaveLastCopy, ResetPath, ChooseOnQ, ChooseLedger, TypeOnqLower, TypeOnQ, TypeLedger
};

struct DeriveCase {
    const char* title;
    std::string locCode, propCode, pms;
    std::vector<Action> actions;
    std::string copyFrom;   // "-" when unchanged
    std::string propCodeAfter;
};

std::ostream& operator<<(std::ostream& out, const DeriveCase& c) { return out << c.title; }

class DerivedSourceFolder : public ::testing::TestWithParam<DeriveCase> {};

TEST_P(DerivedSourceFolder, FromPmsAndCode) {
    const DeriveCase& c = GetParam();
    WindowFixture w;
    TForm1& form = ShowConfiguration(w, {c.locCode, c.propCode, c.pms, "", w.Folder().SourcePath(), ""});
    ASSERT_EQ(form.DbfZAVSys.State(), TDataSetState::Editing);
    for (Action action : c.actions) {
        switch (action) {
        case Action::LeaveLocCode: w.Type(form.DBEdit1, ""); w.Leave(form.DBEdit1); break;
        case Action::LeavePropCode: w.Type(form.DBEdit8, ""); w.Leave(form.DBEdit8); break;
        case Action::LeaveLastCopy: w.Type(form.DBEdit7, ""); w.Leave(form.DBEdit7); break;
        case Action::ResetPath: form.Button1->click(); break;
        case Action::ChooseOnQ: w.ChooseItem(form.DBComboBox1, 0); break;
        case Action::ChooseLedger: w.ChooseItem(form.DBComboBox1, 1); break;
        case Action::TypeOnqLower:
        case Action::TypeOnQ:
        case Action::TypeLedger:
            form.DBComboBox1->lineEdit()->clear();
            w.Type(form.DBComboBox1, action == Action::TypeOnqLower ? "onq"
                                     : action == Action::TypeOnQ    ? "OnQ"
                                                                    : "Corvane Ledger");
            break;
        }
    }
    EXPECT_EQ(CopyFrom(form), c.copyFrom == "-" ? w.Folder().SourcePath() : c.copyFrom);
    EXPECT_EQ(form.DbfZAVSys.ReadText("PROPCODE"), c.propCodeAfter);
    EXPECT_EQ(form.DBEdit3->text().toStdString(), CopyFrom(form));   // the bound edit follows
    EXPECT_TRUE(w.Messages().shown.empty()) << w.Messages().shown.front();
}

const std::string kOnQAbc = "\\\\ABCSERVER\\Transmit\\GSExtract\\Trans\\";

INSTANTIATE_TEST_SUITE_P(
    Cases, DerivedSourceFolder,
    ::testing::Values(
        DeriveCase{"LeaveLocCodeOnQ", "XY", "ABC", "OnQ", {Action::LeaveLocCode}, kOnQAbc, "ABC"},
        DeriveCase{"LeavePropCodeOnQ", "XY", "ABC", "OnQ", {Action::LeavePropCode}, kOnQAbc, "ABC"},
        DeriveCase{"LeaveLastCopyOnQ", "XY", "ABC", "OnQ", {Action::LeaveLastCopy}, kOnQAbc, "ABC"},
        DeriveCase{"LeaveCopiesLocCodeIntoEmptyPropCode", "XY", "", "Corvane Ledger", {Action::LeaveLocCode},
                   "\\\\XYSERVER\\QEL\\", "XY"},
        DeriveCase{"LeaveWithBothCodesEmpty", "", "", "OnQ", {Action::LeaveLocCode}, "-", ""},
        DeriveCase{"LeaveWithOtherPms", "XY", "ABC", "Other", {Action::LeaveLocCode}, "-", "ABC"},
        DeriveCase{"ChooseOnQThenResetPath", "ABC", "DEF", "", {Action::ChooseOnQ},
                   kOnQAbc, "DEF"},
        DeriveCase{"ResetPathUsesPropCode", "ABC", "DEF", "", {Action::ChooseOnQ, Action::ResetPath},
                   "\\\\DEFSERVER\\Transmit\\GSExtract\\Trans\\", "DEF"},
        DeriveCase{"ChooseLedger", "ABC", "DEF", "OnQ", {Action::ChooseLedger}, "\\\\ABCSERVER\\QEL\\", "DEF"},
        DeriveCase{"ChooseOnQWithEmptyLocCode", "", "DEF", "", {Action::ChooseOnQ},
                   "\\\\SERVER\\Transmit\\GSExtract\\Trans\\", "DEF"},
        DeriveCase{"TypedLowerCaseOnqDerivesNothing", "ABC", "DEF", "", {Action::TypeOnqLower}, "-", "DEF"},
        DeriveCase{"TypedOnQDerives", "ABC", "DEF", "", {Action::TypeOnQ}, kOnQAbc, "DEF"},
        DeriveCase{"TypedLedgerDerives", "ABC", "DEF", "OnQ", {Action::TypeLedger}, "\\\\ABCSERVER\\QEL\\", "DEF"},
        DeriveCase{"ResetPathWithEmptyPropCode", "ABC", "", "OnQ", {Action::ResetPath}, "-", ""}),
    [](const auto& info) { return std::string(info.param.title); });

TEST(SettingsEditing, InsertStateDerivesNothing) {
    WindowFixture w;
    TForm1& form = w.Show();   // no settings record: the first-run prompt inserts one
    ASSERT_EQ(form.DbfZAVSys.State(), TDataSetState::Inserting);
    w.Type(form.DBEdit1, "xy");
    w.ChooseItem(form.DBComboBox1, 0);
    w.Leave(form.DBComboBox1);
    form.Button1->click();
    EXPECT_EQ(CopyFrom(form), "");
    EXPECT_EQ(form.DbfZAVSys.ReadText("PROPCODE"), "");
}

struct SaveCase {
    const char* title;
    std::string typed;       // into the source-folder edit; "<src>" stands for the real folder
    bool pressEnter;         // Enter instead of a click on Save
    bool saved;
    std::string stored;      // "<src>" as above
};

std::ostream& operator<<(std::ostream& out, const SaveCase& c) { return out << c.title; }

class Save : public ::testing::TestWithParam<SaveCase> {};

std::string Expand(const std::string& text, const std::string& source) {
    const auto at = text.find("<src>");
    return at == std::string::npos ? text : text.substr(0, at) + source + text.substr(at + 5);
}

TEST_P(Save, ChecksTheFolderAndKeepsSourceFolderInStep) {
    const SaveCase& c = GetParam();
    WindowFixture w;
    const std::string source = w.Folder().SourcePath();
    const std::string sourceNoSlash = source.substr(0, source.size() - 1);
    std::filesystem::create_directories(w.Folder().Root() / "other");
    TForm1& form = ShowConfiguration(w, {"ABC", "ABC", "", "", source, ""});
    w.ClearAndType(form.DBEdit3, QString::fromStdString(Expand(c.typed, w.Folder().Root().string())));
    if (c.pressEnter)
        w.Press(form.DBEdit3, Qt::Key_Return);
    else
        QTest::mouseClick(form.BitBtn4, Qt::LeftButton);

    if (c.saved) {
        const std::string stored = Expand(c.stored, w.Folder().Root().string());
        EXPECT_TRUE(w.Messages().shown.empty());
        EXPECT_EQ(form.DbfZAVSys.State(), TDataSetState::Browsing);
        EXPECT_EQ(form.PageControl1->currentIndex(), 0);
        EXPECT_EQ(form.Values.SourceFolder, stored);
        EXPECT_EQ(w.Folder().ReadSetting("COPYFROM"), stored);
        EXPECT_EQ(form.DBEdit6->text().toStdString(), stored);
    } else {
        EXPECT_EQ(w.Messages().shown, (std::vector<std::string>{"beep", "plain:Invalid Directory!"}));
        EXPECT_EQ(form.DbfZAVSys.State(), TDataSetState::Editing);
        EXPECT_EQ(form.PageControl1->currentIndex(), 1);
        EXPECT_EQ(CopyFrom(form), "");
        EXPECT_EQ(form.DBEdit3->text(), "");
        EXPECT_EQ(form.focusWidget(), form.DBEdit3);
        EXPECT_EQ(form.Values.SourceFolder, source);
        EXPECT_EQ(w.Folder().ReadSetting("COPYFROM"), source);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Save,
                         ::testing::Values(SaveCase{"AddsTheSeparator", "<src>/other", false, true, "<src>/other/"},
                                           SaveCase{"KeepsAnEndingSeparator", "<src>/other/", false, true,
                                                    "<src>/other/"},
                                           SaveCase{"EnterSavesTheTypedFolder", "<src>/other", true, true,
                                                    "<src>/other/"},
                                           SaveCase{"MissingFolder", "<src>/nothing", false, false, ""},
                                           SaveCase{"MissingFolderByEnter", "<src>/nothing", true, false, ""},
                                           SaveCase{"EmptyFolder", "", false, false, ""},
                                           SaveCase{"NetworkPathOfAnotherSystem", "\\\\ABCSERVER\\QEL\\", false,
                                                    false, ""}),
                         [](const auto& info) { return std::string(info.param.title); });

// A folder whose path, with the separator Save adds, is longer than COPYFROM
// holds (254 bytes) would be stored cut: it is refused, however it came in.
class FieldWidth : public ::testing::Test {
protected:
    // An existing folder whose path is `length` bytes long.
    std::string FolderOfLength(std::size_t length) {
        const std::string root = w.Folder().Root().string() + "/";
        std::string path = root + std::string(length - root.size(), 'd');
        std::filesystem::create_directories(path);
        return path;
    }
    TForm1& Show() {
        return ShowConfiguration(w, {"ABC", "ABC", "Other", "", w.Folder().SourcePath(), ""});
    }
    void ExpectRefusedAndNothingStored(TForm1& form) {
        EXPECT_EQ(w.Messages().shown, (std::vector<std::string>{"beep", "plain:Invalid Directory!"}));
        EXPECT_EQ(form.DbfZAVSys.State(), TDataSetState::Editing);
        EXPECT_EQ(form.PageControl1->currentIndex(), 1);
        EXPECT_EQ(form.Values.SourceFolder, w.Folder().SourcePath());
        EXPECT_EQ(w.Folder().ReadSetting("COPYFROM"), w.Folder().SourcePath());
    }
    WindowFixture w;
};

TEST_F(FieldWidth, FolderAtTheFieldsWidthIsAnInvalidDirectory) {
    TForm1& form = Show();
    const std::string folder = FolderOfLength(254);
    w.ClearAndType(form.DBEdit3, QString::fromStdString(folder));
    ASSERT_EQ(form.DBEdit3->text().toStdString(), folder);
    QTest::mouseClick(form.BitBtn4, Qt::LeftButton);
    ExpectRefusedAndNothingStored(form);
    EXPECT_EQ(form.DbfZAVSys.ReadText("COPYFROM"), "");
    EXPECT_EQ(form.focusWidget(), form.DBEdit3);
}

TEST_F(FieldWidth, FolderOneShorterIsStoredWholeWithItsSeparator) {
    TForm1& form = Show();
    const std::string folder = FolderOfLength(253);
    w.ClearAndType(form.DBEdit3, QString::fromStdString(folder));
    w.Press(form.DBEdit3, Qt::Key_Return);
    EXPECT_TRUE(w.Messages().shown.empty());
    EXPECT_EQ(form.PageControl1->currentIndex(), 0);
    EXPECT_EQ(form.Values.SourceFolder, folder + "/");
    EXPECT_EQ(w.Folder().ReadSetting("COPYFROM"), folder + "/");
}

TEST_F(FieldWidth, PickedFolderAtTheFieldsWidthIsRefusedAndNothingChanges) {
    TForm1& form = Show();
    w.pickedFolder = FolderOfLength(254);
    QTest::mouseClick(form.BitBtn5, Qt::LeftButton);
    ExpectRefusedAndNothingStored(form);
    EXPECT_EQ(form.DbfZAVSys.ReadText("COPYFROM"), w.Folder().SourcePath());
    EXPECT_EQ(form.DBEdit3->text().toStdString(), w.Folder().SourcePath());
}

TEST_F(FieldWidth, TheEditHoldsNoMoreThanTheFieldStores) {
    TForm1& form = Show();
    const std::string typed = "/" + std::string(299, 'x');
    w.ClearAndType(form.DBEdit3, QString::fromStdString(typed));
    EXPECT_EQ(form.DBEdit3->text().toStdString(), typed.substr(0, 254));
    w.Leave(form.DBEdit3);
    EXPECT_EQ(form.DbfZAVSys.ReadText("COPYFROM"), typed.substr(0, 254));
}

TEST(SettingsEditing, SaveLeavesTheLocationCodeOfTheStartAndUploadItsLoginFile) {
    WindowFixture w;
    TForm1& form = ShowConfiguration(w, {"ABC", "ABC", "Other", "", w.Folder().SourcePath(), ""});
    w.ClearAndType(form.DBEdit1, "xyz");
    QTest::mouseClick(form.BitBtn4, Qt::LeftButton);
    ASSERT_EQ(form.PageControl1->currentIndex(), 0);
    EXPECT_EQ(w.Folder().ReadSetting("LOCCODE"), "XYZ");
    EXPECT_EQ(form.Values.LocationCode, "ABC");
    // Only the new code has a login file: Upload still looks for ABC.DAT.
    std::ofstream(w.Folder().Path() + "XYZ.DAT") << "\n";
    w.Messages().shown.clear();
    QTest::mouseClick(form.BitBtn1, Qt::LeftButton);
    ASSERT_FALSE(w.Messages().shown.empty());
    EXPECT_EQ(w.Messages().shown.front(), "plain:Not Enough Login Information To Upload!");
}

TEST(SettingsEditing, SaveInBrowseStateDoesNothing) {
    WindowFixture w;
    w.WriteUsualSettings();
    TForm1& form = w.Show();
    w.Messages().shown.clear();
    form.PageControl1->setCurrentIndex(1);   // from code: no editing begins
    form.BitBtn4->click();
    EXPECT_TRUE(w.Messages().shown.empty());
    EXPECT_EQ(form.PageControl1->currentIndex(), 1);
    EXPECT_EQ(form.DbfZAVSys.State(), TDataSetState::Browsing);
}

TEST(SettingsEditing, CancelDiscardsAndAlwaysReturnsToTheFirstPage) {
    WindowFixture w;
    TForm1& form = ShowConfiguration(w, {"ABC", "ABC", "OnQ", "", w.Folder().SourcePath(), ""});
    w.ClearAndType(form.DBEdit1, "zzz");
    w.Leave(form.DBEdit1);
    EXPECT_EQ(form.DbfZAVSys.ReadText("LOCCODE"), "ZZZ");
    form.BitBtn6->click();
    EXPECT_EQ(form.DbfZAVSys.State(), TDataSetState::Browsing);
    EXPECT_EQ(form.DbfZAVSys.ReadText("LOCCODE"), "ABC");
    EXPECT_EQ(form.DBEdit1->text(), "ABC");
    EXPECT_EQ(form.PageControl1->currentIndex(), 0);
    form.PageControl1->setCurrentIndex(1);
    form.BitBtn6->click();   // nothing to cancel
    EXPECT_EQ(form.PageControl1->currentIndex(), 0);
    EXPECT_TRUE(w.Messages().shown.empty());
}

TEST(SettingsEditing, FirstTabClickDiscardsButKeyboardPageChangeKeeps) {
    WindowFixture w;
    TForm1& form = ShowConfiguration(w, {"ABC", "ABC", "OnQ", "", w.Folder().SourcePath(), ""});
    w.ClearAndType(form.DBEdit8, "pq");
    w.Leave(form.DBEdit8);
    // Ctrl+Tab changes the page without ending the edit.
    w.Press(form.focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(form.PageControl1->currentIndex(), 0);
    EXPECT_EQ(form.DbfZAVSys.State(), TDataSetState::Editing);
    w.Press(form.focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(form.PageControl1->currentIndex(), 1);
    EXPECT_EQ(form.DBEdit8->text(), "PQ");
    // A click on the first page's tab discards silently.
    w.ClickTab(0);
    EXPECT_EQ(form.PageControl1->currentIndex(), 0);
    EXPECT_EQ(form.DbfZAVSys.State(), TDataSetState::Browsing);
    EXPECT_EQ(form.DbfZAVSys.ReadText("PROPCODE"), "ABC");
    EXPECT_EQ(form.DBEdit8->text(), "ABC");
    EXPECT_TRUE(w.Messages().shown.empty());
}

TEST(SettingsEditing, TypingBeginsTheEditByItself) {
    WindowFixture w;
    w.WriteUsualSettings();
    TForm1& form = w.Show();
    form.PageControl1->setCurrentIndex(1);
    ASSERT_EQ(form.DbfZAVSys.State(), TDataSetState::Browsing);
    w.Type(form.DBEdit8, "q");
    EXPECT_EQ(form.DbfZAVSys.State(), TDataSetState::Editing);
    EXPECT_EQ(form.DBEdit8->text(), "ABCQ");
}

struct CaseCase {
    const char* control;
    const char* typed;
    const char* field;
    const char* stored;
};

class UpperCaseEdits : public ::testing::TestWithParam<CaseCase> {};

TEST_P(UpperCaseEdits, StoreWhatTheEditsShow) {
    WindowFixture w;
    TForm1& form = ShowConfiguration(w, {"", "", "Other", "", w.Folder().SourcePath(), ""});
    w.Messages().shown.clear();
    auto* edit = form.findChild<QLineEdit*>(GetParam().control);
    ASSERT_NE(edit, nullptr);
    w.ClearAndType(edit, GetParam().typed);
    w.Leave(edit);
    EXPECT_EQ(form.DbfZAVSys.ReadText(GetParam().field), GetParam().stored);
    EXPECT_TRUE(w.Messages().shown.empty());
}

INSTANTIATE_TEST_SUITE_P(Controls, UpperCaseEdits,
                         ::testing::Values(CaseCase{"DBEdit1", "abc", "LOCCODE", "ABC"},
                                           CaseCase{"DBEdit8", "de", "PROPCODE", "DE"},
                                           CaseCase{"DBEdit7", "06/15/05", "LASTCOPY", "06/15/05"},
                                           CaseCase{"DBEdit2", "06/16/05", "LASTCOPY", "06/16/05"},
                                           CaseCase{"DBEdit3", "/tmp/Mixed/Case", "COPYFROM", "/tmp/Mixed/Case"}));

TEST(SettingsEditing, BothEditsOfAFieldShowTheSameValue) {
    WindowFixture w;
    TForm1& form = ShowConfiguration(w, {"ABC", "ABC", "Other", "06/16/05", w.Folder().SourcePath(), ""});
    EXPECT_EQ(form.DBEdit2->text(), "06/16/05");
    EXPECT_EQ(form.DBEdit7->text(), "06/16/05");
    w.ClearAndType(form.DBEdit2, "07/01/05");
    EXPECT_EQ(form.DBEdit7->text(), "07/01/05");   // while typing
    w.Leave(form.DBEdit2);
    EXPECT_EQ(form.DBEdit7->text(), "07/01/05");
    w.ClearAndType(form.DBEdit3, "/elsewhere");
    EXPECT_EQ(form.DBEdit6->text(), "/elsewhere");
    w.Leave(form.DBEdit3);
    EXPECT_EQ(form.DBEdit6->text(), "/elsewhere");
    form.BitBtn6->click();   // Cancel: both show the stored value again
    EXPECT_EQ(form.DBEdit2->text(), "06/16/05");
    EXPECT_EQ(form.DBEdit7->text(), "06/16/05");
    EXPECT_EQ(form.DBEdit6->text().toStdString(), w.Folder().SourcePath());
}

struct BadDateCase {
    const char* control;
    const char* typed;
};

class LastCopyRefusal : public ::testing::TestWithParam<BadDateCase> {};

TEST_P(LastCopyRefusal, ReportsKeepsFocusAndSkipsTheExitHandler) {
    WindowFixture w;
    TForm1& form = ShowConfiguration(w, {"ABC", "ABC", "OnQ", "", w.Folder().SourcePath(), ""});
    auto* edit = form.findChild<QLineEdit*>(GetParam().control);
    w.ClearAndType(edit, GetParam().typed);
    // A marker the exit handler would overwrite.
    w.pickedFolder = "/marker";
    form.BitBtn5Click();
    w.Messages().shown.clear();
    w.Leave(edit);
    EXPECT_EQ(w.Messages().shown,
              (std::vector<std::string>{"report:'" + std::string(GetParam().typed) + "' is not a valid date."}));
    EXPECT_EQ(QApplication::focusWidget(), edit);
    EXPECT_EQ(edit->selectedText(), GetParam().typed);
    EXPECT_EQ(CopyFrom(form), "/marker");   // DBEdit1Exit did not run
    // Corrected, the exit goes through and the exit handler runs.
    w.ClearAndType(edit, "06/15/05");
    w.Leave(edit);
    EXPECT_EQ(w.Messages().shown.size(), 1u);
    EXPECT_EQ(form.DbfZAVSys.ReadText("LASTCOPY"), "06/15/05");
    EXPECT_EQ(CopyFrom(form), edit == form.DBEdit7 ? kOnQAbc : "/marker");
}

INSTANTIATE_TEST_SUITE_P(Edits, LastCopyRefusal,
                         ::testing::Values(BadDateCase{"DBEdit7", "13/45/05"}, BadDateCase{"DBEdit7", "XYZ"},
                                           BadDateCase{"DBEdit2", "02/30/05"}));

struct PickerCase {
    const char* title;
    bool editing;
    std::optional<std::string> picked;
    std::vector<std::string> messages;
    std::string copyFrom;   // "-" unchanged
};

std::ostream& operator<<(std::ostream& out, const PickerCase& c) { return out << c.title; }

class FolderPicker : public ::testing::TestWithParam<PickerCase> {};

TEST_P(FolderPicker, IntoCopyFrom) {
    const PickerCase& c = GetParam();
    WindowFixture w;
    w.Folder().WriteSettings({"ABC", "ABC", "Other", "", w.Folder().SourcePath(), ""});
    TForm1& form = w.Show();
    if (c.editing)
        w.ClickTab(1);
    else
        form.PageControl1->setCurrentIndex(1);
    w.Messages().shown.clear();
    w.pickedFolder = c.picked;
    QTest::mouseClick(form.BitBtn5, Qt::LeftButton);
    EXPECT_EQ(w.Messages().shown, c.messages);
    EXPECT_EQ(CopyFrom(form), c.copyFrom == "-" ? w.Folder().SourcePath() : c.copyFrom);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FolderPicker,
    ::testing::Values(PickerCase{"Chosen", true, "/srv/extracts", {}, "/srv/extracts"},
                      PickerCase{"Root", true, "/", {}, "/"},
                      PickerCase{"Cancelled", true, std::nullopt, {}, "-"},
                      PickerCase{"BrowseStateRefused", false, "/srv/extracts",
                                 {"report:DbfZAVSys: Dataset not in edit mode."}, "-"}),
    [](const auto& info) { return std::string(info.param.title); });

TEST(SettingsEditing, HiddenTargetPickerWritesCopyTo) {
    WindowFixture w;
    w.WriteUsualSettings();
    TForm1& form = w.Show();
    w.ClickTab(1);
    w.pickedFolder = "/mnt/out";
    form.BitBtn3Click();
    EXPECT_EQ(form.DbfZAVSys.ReadText("COPYTO"), "/mnt/out");
    EXPECT_EQ(form.DBEdit4->text(), "/mnt/out");
}

TEST(SettingsEditing, DerivedPathOverwritesAPickedFolder) {
    WindowFixture w;
    TForm1& form = ShowConfiguration(w, {"ABC", "ABC", "OnQ", "", w.Folder().SourcePath(), ""});
    w.pickedFolder = "/srv/picked";
    QTest::mouseClick(form.BitBtn5, Qt::LeftButton);
    EXPECT_EQ(CopyFrom(form), "/srv/picked");
    w.Type(form.DBEdit1, "");
    w.Leave(form.DBEdit1);
    EXPECT_EQ(CopyFrom(form), kOnQAbc);
}

}  // namespace
