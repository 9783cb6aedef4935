// Changing the page by every gesture of the mouse and the keyboard: a last
// copy date the edit refuses keeps the page, the edit and its text; a page
// change by the mouse runs PageControl1Click once, after the change; the
// tab strip's keys. The gestures are sent to the real widgets; nothing
// relies on the mouse release arriving (a message box may take it).
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QWheelEvent>

#include "AppTestSupport.h"

namespace {

using namespace qztest;

enum class Gesture { TabClick, TabPressReleasedElsewhere, CtrlTab, CtrlShiftTab, WheelOverTabs, SavePress, SaveClick };

QPoint TabCentre(TForm1& form, int index) { return form.PageControl1->tabBar()->tabRect(index).center(); }

// The point beside the tabs, on the page below them.
QPoint OffTheTabs(TForm1& form) {
    QTabBar* bar = form.PageControl1->tabBar();
    return QPoint(bar->tabRect(1).right() + 200, bar->height() + 40);
}

void Perform(WindowFixture& w, TForm1& form, Gesture gesture, int towards) {
    QTabBar* bar = form.PageControl1->tabBar();
    switch (gesture) {
    case Gesture::TabClick: QTest::mouseClick(bar, Qt::LeftButton, {}, TabCentre(form, towards)); break;
    case Gesture::TabPressReleasedElsewhere:
        QTest::mousePress(bar, Qt::LeftButton, {}, TabCentre(form, towards));
        QTest::mouseRelease(bar, Qt::LeftButton, {}, OffTheTabs(form));
        break;
    case Gesture::CtrlTab: w.Press(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier); break;
    case Gesture::CtrlShiftTab:
        w.Press(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
        break;
    case Gesture::WheelOverTabs: {
        const QPoint at = TabCentre(form, towards);
        for (int notch : {-120, 120}) {
            QWheelEvent wheel(at, bar->mapToGlobal(at), {}, {0, notch}, Qt::NoButton, Qt::NoModifier,
                              Qt::NoScrollPhase, false);
            QApplication::sendEvent(bar, &wheel);
        }
        break;
    }
    // Only the press: on a real display the report's box takes the release.
    case Gesture::SavePress: QTest::mousePress(form.BitBtn4, Qt::LeftButton); break;
    case Gesture::SaveClick: QTest::mouseClick(form.BitBtn4, Qt::LeftButton); break;
    }
}

struct GestureCase {
    const char* title;
    Gesture gesture;
    // With a good date typed: the page shown after the gesture, the clicks
    // it raised and the record's state.
    int pageAfter;
    int clicksAfter;
    TDataSetState stateAfter;
};

std::ostream& operator<<(std::ostream& out, const GestureCase& c) { return out << c.title; }

class RefusedDate : public ::testing::TestWithParam<std::tuple<const char*, GestureCase>> {};

TEST_P(RefusedDate, KeepsThePageTheEditAndItsText) {
    const char* editName = std::get<0>(GetParam());
    const GestureCase& c = std::get<1>(GetParam());
    WindowFixture w;
    // No PMS that derives a folder: Save keeps the folder it checks.
    w.Folder().WriteSettings({"ABC", "ABC", "Other", "06/16/05", w.Folder().SourcePath(), ""});
    TForm1& form = w.Show();
    w.ClickTab(1);
    ASSERT_EQ(form.DbfZAVSys.State(), TDataSetState::Editing);
    QSignalSpy clicks(form.PageControl1, &TPageControl::tabClicked);
    ASSERT_TRUE(clicks.isValid());
    auto* edit = form.findChild<QLineEdit*>(editName);
    w.Messages().shown.clear();

    w.ClearAndType(edit, "99/99/99");
    Perform(w, form, c.gesture, 0);
    if (c.gesture == Gesture::WheelOverTabs) {
        EXPECT_TRUE(w.Messages().shown.empty()) << w.Messages().shown.front();   // nothing was asked of the edit
        edit->selectAll();
    } else {
        EXPECT_EQ(w.Messages().shown, (std::vector<std::string>{"report:'99/99/99' is not a valid date."}));
    }
    EXPECT_EQ(form.PageControl1->currentIndex(), 1);
    EXPECT_EQ(clicks.count(), 0);
    EXPECT_EQ(form.DbfZAVSys.State(), TDataSetState::Editing);
    EXPECT_EQ(QApplication::focusWidget(), edit);
    EXPECT_EQ(edit->selectedText(), "99/99/99");
    EXPECT_FALSE(form.BitBtn4->isDown());
    EXPECT_EQ(w.Folder().ReadSetting("LASTCOPY"), "06/16/05");
    QTest::mouseRelease(form.BitBtn4, Qt::LeftButton);   // the user lets go somewhere

    // The keys typed next reach the edit; corrected, the same gesture goes through.
    QTest::keyClicks(QApplication::focusWidget(), "06/15/05");
    EXPECT_EQ(edit->text(), "06/15/05");
    w.Messages().shown.clear();
    Perform(w, form, c.gesture, 0);
    EXPECT_TRUE(w.Messages().shown.empty()) << w.Messages().shown.front();
    EXPECT_EQ(form.PageControl1->currentIndex(), c.pageAfter);
    EXPECT_EQ(clicks.count(), c.clicksAfter);
    EXPECT_EQ(form.DbfZAVSys.State(), c.stateAfter);
    if (c.gesture == Gesture::SavePress) {
        EXPECT_TRUE(form.BitBtn4->isDown());   // a press the edit let go: Save waits for its release
        QTest::mouseRelease(form.BitBtn4, Qt::LeftButton);
        EXPECT_EQ(form.PageControl1->currentIndex(), 0);
    }
    if (c.stateAfter == TDataSetState::Editing && c.pageAfter == 0) {
        EXPECT_EQ(form.DbfZAVSys.ReadText("LASTCOPY"), "06/15/05");   // written on the way, still pending
    }
}

INSTANTIATE_TEST_SUITE_P(
    Gestures, RefusedDate,
    ::testing::Combine(
        ::testing::Values("DBEdit7", "DBEdit2"),
        ::testing::Values(
            GestureCase{"TabClick", Gesture::TabClick, 0, 1, TDataSetState::Browsing},
            GestureCase{"TabPressReleasedElsewhere", Gesture::TabPressReleasedElsewhere, 0, 1,
                        TDataSetState::Browsing},
            GestureCase{"CtrlTab", Gesture::CtrlTab, 0, 0, TDataSetState::Editing},
            GestureCase{"CtrlShiftTab", Gesture::CtrlShiftTab, 0, 0, TDataSetState::Editing},
            // The wheel never changes the page: a flick must not drop an edit.
            GestureCase{"WheelOverTabs", Gesture::WheelOverTabs, 1, 0, TDataSetState::Editing},
            GestureCase{"SavePress", Gesture::SavePress, 1, 0, TDataSetState::Editing},
            GestureCase{"SaveClick", Gesture::SaveClick, 0, 0, TDataSetState::Browsing})),
    [](const auto& info) {
        return std::string(std::get<0>(info.param)) + "_" + std::get<1>(info.param).title;
    });

TEST(RefusedDateInAnInactiveWindow, AClickOnTheTabStillAsksTheEdit) {
    WindowFixture w;
    w.Folder().WriteSettings({"ABC", "ABC", "Other", "06/16/05", w.Folder().SourcePath(), ""});
    TForm1& form = w.Show();
    w.ClickTab(1);
    w.ClearAndType(form.DBEdit7, "99/99/99");
    w.Messages().shown.clear();
    // Another window is active when the click arrives (the window is
    // activated after the press, or not at all without a window manager).
    QWidget other;
    other.show();
    QApplication::setActiveWindow(&other);
    ASSERT_NE(QApplication::focusWidget(), form.DBEdit7);
    w.ClickTab(0);
    EXPECT_EQ(w.Messages().shown, (std::vector<std::string>{"report:'99/99/99' is not a valid date."}));
    EXPECT_EQ(form.PageControl1->currentIndex(), 1);
    EXPECT_EQ(form.DbfZAVSys.State(), TDataSetState::Editing);
    EXPECT_EQ(form.focusWidget(), form.DBEdit7);
    EXPECT_EQ(form.DBEdit7->text(), "99/99/99");
}

TEST(RefusedDateInAnInactiveWindow, CtrlTabLeavesTheFocusInTheEditWhileTheBoxIsActive) {
    WindowFixture w;
    w.Folder().WriteSettings({"ABC", "ABC", "Other", "06/16/05", w.Folder().SourcePath(), ""});
    TForm1& form = w.Show();
    w.ClickTab(1);
    w.ClearAndType(form.DBEdit7, "99/99/99");
    QWidget box;   // the report's box: active until it is closed
    w.Messages().whileReportShown = [&] {
        box.show();
        QApplication::setActiveWindow(&box);
    };
    w.Press(form.DBEdit7, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(form.PageControl1->currentIndex(), 1);
    EXPECT_EQ(form.focusWidget(), form.DBEdit7);
    box.hide();
    QApplication::setActiveWindow(&form);
    QTest::keyClicks(QApplication::focusWidget(), "06/15/05");
    EXPECT_EQ(form.DBEdit7->text(), "06/15/05");
}

struct MouseCase {
    const char* title;
    int from;
    Gesture gesture;
    int to;
    TDataSetState stateAfter;
};

std::ostream& operator<<(std::ostream& out, const MouseCase& c) { return out << c.title; }

class MousePageChange : public ::testing::TestWithParam<MouseCase> {};

TEST_P(MousePageChange, RunsPageControl1ClickOnceAfterTheChange) {
    const MouseCase& c = GetParam();
    WindowFixture w;
    w.WriteUsualSettings();
    TForm1& form = w.Show();
    if (c.from == 1) {
        w.ClickTab(1);
        w.ClearAndType(form.DBEdit8, "PQ");   // pending, not yet written
    }
    QSignalSpy clicks(form.PageControl1, &TPageControl::tabClicked);
    ASSERT_TRUE(clicks.isValid());
    // The click runs once the page has changed, not before.
    int clicksAtTheChange = -1;
    const auto connection = QObject::connect(form.PageControl1, &QTabWidget::currentChanged,
                                             [&](int) { clicksAtTheChange = static_cast<int>(clicks.count()); });
    Perform(w, form, c.gesture, c.to);
    QObject::disconnect(connection);
    EXPECT_EQ(clicksAtTheChange, c.from == c.to ? -1 : 0);
    EXPECT_EQ(form.PageControl1->currentIndex(), c.to);
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_EQ(form.DbfZAVSys.State(), c.stateAfter);
    if (c.from == 1 && c.to == 0) {
        EXPECT_EQ(form.DBEdit8->text(), "ABC");   // discarded
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MousePageChange,
    ::testing::Values(MouseCase{"ClickToConfiguration", 0, Gesture::TabClick, 1, TDataSetState::Editing},
                      MouseCase{"PressReleasedElsewhereToConfiguration", 0, Gesture::TabPressReleasedElsewhere, 1,
                                TDataSetState::Editing},
                      MouseCase{"ClickBackDiscards", 1, Gesture::TabClick, 0, TDataSetState::Browsing},
                      MouseCase{"PressReleasedElsewhereBackDiscards", 1, Gesture::TabPressReleasedElsewhere, 0,
                                TDataSetState::Browsing},
                      MouseCase{"ClickOnThePageShown", 1, Gesture::TabClick, 1, TDataSetState::Editing}),
    [](const auto& info) { return std::string(info.param.title); });

TEST(TabStripKeys, ArrowsHomeAndEndChangeThePageWithoutAClick) {
    WindowFixture w;
    w.WriteUsualSettings();
    TForm1& form = w.Show();
    w.Messages().shown.clear();
    QTabBar* bar = form.PageControl1->tabBar();
    bar->setFocus(Qt::TabFocusReason);
    QSignalSpy clicks(form.PageControl1, &TPageControl::tabClicked);
    ASSERT_TRUE(clicks.isValid());
    const std::pair<Qt::Key, int> steps[] = {{Qt::Key_Right, 1}, {Qt::Key_Right, 1}, {Qt::Key_Left, 0},
                                             {Qt::Key_Left, 0},  {Qt::Key_Down, 1},  {Qt::Key_Up, 0},
                                             {Qt::Key_End, 1},   {Qt::Key_End, 1},   {Qt::Key_Home, 0}};
    for (const auto& [key, page] : steps) {
        QTest::keyClick(bar, key);
        EXPECT_EQ(form.PageControl1->currentIndex(), page) << QTest::toString(key);
        EXPECT_EQ(QApplication::focusWidget(), bar) << QTest::toString(key);
    }
    EXPECT_EQ(clicks.count(), 0);
    EXPECT_EQ(form.DbfZAVSys.State(), TDataSetState::Browsing);
    EXPECT_TRUE(w.Messages().shown.empty());
}

}  // namespace
