#include "app/ButtonPictures.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <functional>
#include <initializer_list>

namespace {

// Draws on a 16-unit square at each size, so the picture stays sharp when scaled.
QIcon Picture(const std::function<void(QPainter&)>& draw) {
    QIcon icon;
    for (int size : {16, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / 16.0, size / 16.0);
        draw(painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

// A closed outline through the points, in order.
QPainterPath Outline(std::initializer_list<QPointF> points) {
    QPainterPath path;
    path.moveTo(*points.begin());
    for (auto it = points.begin() + 1; it != points.end(); ++it) path.lineTo(*it);
    path.closeSubpath();
    return path;
}

void Sheet(QPainter& p, qreal x, qreal y) {
    QPainterPath path;
    path.moveTo(x, y);
    path.lineTo(x + 6.5, y);
    path.lineTo(x + 9, y + 2.5);
    path.lineTo(x + 9, y + 11);
    path.lineTo(x, y + 11);
    path.closeSubpath();
    p.setPen(QPen(QColor(60, 60, 60), 0.8));
    p.setBrush(Qt::white);
    p.drawPath(path);
    p.setPen(QPen(QColor(90, 110, 170), 0.7));
    for (qreal line = y + 4; line < y + 10; line += 2) p.drawLine(QPointF(x + 1.8, line), QPointF(x + 7.2, line));
}

}  // namespace

QIcon TwoSheetsPicture() {
    return Picture([](QPainter& p) {
        Sheet(p, 1.5, 1.5);
        Sheet(p, 5.5, 4.0);
    });
}

QIcon RedCrossPicture() {
    return Picture([](QPainter& p) {
        p.setPen(QPen(QColor(200, 20, 20), 2.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
        p.drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
    });
}

QIcon GreenTickPicture() {
    return Picture([](QPainter& p) {
        p.setPen(QPen(QColor(20, 150, 40), 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        QPainterPath tick;
        tick.moveTo(2.5, 8.5);
        tick.lineTo(6.0, 12.0);
        tick.lineTo(13.5, 3.5);
        p.drawPath(tick);
    });
}

QIcon FolderPicture() {
    return Picture([](QPainter& p) {
        p.setPen(QPen(QColor(150, 110, 0), 0.8));
        p.setBrush(QColor(240, 200, 60));
        p.drawPath(Outline({{1.5, 3.5}, {6.0, 3.5}, {7.5, 5.0}, {14.5, 5.0}, {14.5, 13.0}, {1.5, 13.0}}));
        p.setBrush(QColor(255, 225, 110));
        p.drawPath(Outline({{1.5, 13.0}, {3.5, 7.0}, {15.5, 7.0}, {14.5, 13.0}}));
    });
}
