#pragma once
// The real window on the offscreen platform, with recorded message boxes and
// a scratch program folder.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ProgramFolder.h"
#include "app/MainWindow.h"
#include "app/MessageBoxes.h"

namespace qztest {

// Message boxes that only record what they would show.
class RecordingMessages : public TMessageBoxes {
public:
    std::vector<std::string> shown;   // "plain:...", "error:...", "report:...", "confirm:...", "beep"
    bool confirmAnswer = true;
    // Runs while a report is shown, as a real box would (it takes the activation).
    std::function<void()> whileReportShown;

    void PlainMessage(const std::string& text) override { shown.push_back("plain:" + text); }
    void ErrorMessage(const std::string& text) override { shown.push_back("error:" + text); }
    void ErrorReport(const std::string& text) override {
        shown.push_back("report:" + text);
        if (whileReportShown) whileReportShown();
    }
    bool Confirm(const std::string& text) override {
        shown.push_back("confirm:" + text);
        return confirmAnswer;
    }
    void Beep() override { shown.push_back("beep"); }
};

class WindowFixture {
public:
    WindowFixture() : previousDir_(std::filesystem::current_path()) {}
    ~WindowFixture() {
        form_.reset();
        std::filesystem::current_path(previousDir_);
    }

    ProgramFolder& Folder() { return folder_; }
    RecordingMessages& Messages() { return *messages_; }
    TForm1& Form() { return *form_; }

    // Settings with a valid source folder and location code ABC, PMS "OnQ".
    void WriteUsualSettings() {
        folder_.WriteSettings({"ABC", "ABC", "OnQ", "06/16/05", folder_.SourcePath(), ""});
    }

    // Creates and shows the window (the start-up sequence runs), then makes it active.
    TForm1& Show() {
        form_ = std::make_unique<TForm1>(folder_.Path(), messages_);
        form_->SetFolderPicker([this](QWidget*) { return pickedFolder; });
        form_->show();
        form_->activateWindow();
        QApplication::setActiveWindow(form_.get());
        (void)QTest::qWaitForWindowActive(form_.get());
        return *form_;
    }

    // The user's actions.
    void ClickTab(int index) {
        QTabBar* bar = form_->PageControl1->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
    }
    void Type(QWidget* control, const QString& text) {
        control->setFocus(Qt::MouseFocusReason);
        QTest::keyClicks(control, text);
    }
    void ClearAndType(QLineEdit* edit, const QString& text) {
        edit->setFocus(Qt::MouseFocusReason);
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, text);
    }
    // Moves the focus on with Tab, so the control is left.
    void Leave(QWidget* control) { QTest::keyClick(control, Qt::Key_Tab); }
    void Press(QWidget* control, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(control, key, modifiers);
    }
    // Chooses an item of the drop-down with the keyboard, as a user can.
    void ChooseItem(QComboBox* combo, int index) {
        combo->setFocus(Qt::MouseFocusReason);
        combo->setCurrentIndex(index == 0 ? 1 : 0);
        QTest::keyClick(combo, index == 0 ? Qt::Key_Up : Qt::Key_Down);
    }

    std::optional<std::string> pickedFolder;

private:
    std::filesystem::path previousDir_;
    ProgramFolder folder_;
    std::shared_ptr<RecordingMessages> messages_ = std::make_shared<RecordingMessages>();
    std::unique_ptr<TForm1> form_;
};

}  // namespace qztest
