#pragma once
// The tab control of the main window (`PageControl1`). The user changes the
// page only through it (a press on a tab, the tab strip's keys, Ctrl+Tab);
// each change is asked first, so a control that refuses to be left (a bad
// date) keeps its page. The wheel over the tabs changes nothing, as on the
// native tab control: a flick of it must not leave an edit unnoticed.
#include <QTabBar>
#include <QTabWidget>
#include <functional>

class TPageControl : public QTabWidget {
    Q_OBJECT
public:
    // Asked before the user changes the page; false keeps the page shown.
    using LeaveCheck = std::function<bool()>;

    explicit TPageControl(QWidget* parent = nullptr);
    void SetLeaveCheck(LeaveCheck check) { leaveCheck_ = std::move(check); }

    // The user asks for page `index`; true when it is now the page shown.
    bool UserSelects(int index);

signals:
    // A mouse press on a tab, once the page has changed (or stayed, when the
    // tab of the page shown was pressed). Not raised by keys or by code.
    void tabClicked();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    LeaveCheck leaveCheck_;
};

// The tab strip: the page changes on the press, after the check, and the
// press is finished there, so a message box that takes the release leaves
// nothing half-done. Arrow keys, Home and End move between the pages.
class TPageTabBar : public QTabBar {
    Q_OBJECT
public:
    explicit TPageTabBar(TPageControl& pages);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    int NextEnabled(int from, int step) const;

    TPageControl& pages_;
};
