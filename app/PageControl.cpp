#include "app/PageControl.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>

TPageControl::TPageControl(QWidget* parent) : QTabWidget(parent) { setTabBar(new TPageTabBar(*this)); }

bool TPageControl::UserSelects(int index) {
    if (index < 0 || index >= count() || !isTabEnabled(index)) return false;
    if (index != currentIndex()) {
        if (leaveCheck_ && !leaveCheck_()) return false;
        setCurrentIndex(index);
    }
    return currentIndex() == index;
}

void TPageControl::keyPressEvent(QKeyEvent* event) {
    const bool ctrlTab = (event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab) &&
                         (event->modifiers() & Qt::ControlModifier) && count() > 1;
    if (!ctrlTab) {
        QTabWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    const bool back = event->key() == Qt::Key_Backtab || (event->modifiers() & Qt::ShiftModifier);
    const int step = back ? -1 : 1;
    // Ctrl+Tab wraps round, past disabled pages.
    for (int page = currentIndex(), pass = 0; pass < count(); ++pass) {
        page = (page + step + count()) % count();
        if (isTabEnabled(page)) {
            // A page without a control to take the focus leaves it to the tabs.
            // The window's own focus is asked: a report may have left the
            // window inactive for a moment, with its focus where it was.
            if (UserSelects(page) && !window()->focusWidget()) tabBar()->setFocus();
            break;
        }
    }
}

TPageTabBar::TPageTabBar(TPageControl& pages) : QTabBar(&pages), pages_(pages) {}

void TPageTabBar::mousePressEvent(QMouseEvent* event) {
    const int index = tabAt(event->position().toPoint());
    if (event->button() != Qt::LeftButton || index < 0) {
        QTabBar::mousePressEvent(event);
        return;
    }
    event->accept();
    if (pages_.UserSelects(index)) emit pages_.tabClicked();
}

void TPageTabBar::mouseReleaseEvent(QMouseEvent* event) {
    // The press did all; the release, wherever it ends, changes nothing.
    if (event->button() == Qt::LeftButton) {
        event->accept();
        return;
    }
    QTabBar::mouseReleaseEvent(event);
}

void TPageTabBar::wheelEvent(QWheelEvent* event) { event->ignore(); }

int TPageTabBar::NextEnabled(int from, int step) const {
    for (int index = from + step; index >= 0 && index < count(); index += step)
        if (isTabEnabled(index)) return index;
    return -1;
}

void TPageTabBar::keyPressEvent(QKeyEvent* event) {
    if (event->modifiers() & ~Qt::KeypadModifier) {
        QTabBar::keyPressEvent(event);
        return;
    }
    int target = -1;
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Up: target = NextEnabled(currentIndex(), -1); break;
    case Qt::Key_Right:
    case Qt::Key_Down: target = NextEnabled(currentIndex(), 1); break;
    case Qt::Key_Home: target = NextEnabled(-1, 1); break;
    case Qt::Key_End: target = NextEnabled(count(), -1); break;
    default: QTabBar::keyPressEvent(event); return;
    }
    event->accept();
    if (target >= 0) pages_.UserSelects(target);
}
