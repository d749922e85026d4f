// The main window's drawn icons (see icons.h).
#include "shell/icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace telvane::shell {

namespace {

void drawPage(QPainter& p, const QRectF& r) {
    QPainterPath page;
    const qreal fold = r.width() * 0.3;
    page.moveTo(r.topLeft());
    page.lineTo(r.right() - fold, r.top());
    page.lineTo(r.right(), r.top() + fold);
    page.lineTo(r.bottomRight());
    page.lineTo(r.bottomLeft());
    page.closeSubpath();
    p.setPen(QPen(QColor(90, 90, 90), 1.2));
    p.setBrush(Qt::white);
    p.drawPath(page);
    p.setPen(QPen(QColor(170, 170, 170), 1.0));
    for (qreal y = r.top() + fold + 3; y < r.bottom() - 3; y += 4)
        p.drawLine(QPointF(r.left() + 3, y), QPointF(r.right() - 3, y));
}

void drawArrow(QPainter& p, QPointF from, QPointF to, const QColor& color) {
    p.setPen(QPen(color, 3.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(from, to);
    const QLineF line(to, from);
    QLineF a = line;
    a.setLength(7);
    a.setAngle(line.angle() + 40);
    QLineF b = line;
    b.setLength(7);
    b.setAngle(line.angle() - 40);
    p.drawLine(a);
    p.drawLine(b);
}

// Simple glyphs for the button bar, used where the desktop theme has no icon.
QIcon drawIcon(int kind) {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    switch (kind) {
    case IconNew:
        drawPage(p, QRectF(5, 3, 19, 25));
        p.setPen(QPen(QColor(30, 140, 50), 3.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(24, 18), QPointF(24, 29));
        p.drawLine(QPointF(18.5, 23.5), QPointF(29.5, 23.5));
        break;
    case IconEdit:
        drawPage(p, QRectF(4, 3, 19, 25));
        p.setPen(QPen(QColor(60, 60, 60), 1.0));
        p.setBrush(QColor(240, 190, 40));
        p.drawPolygon(QPolygonF({QPointF(27, 9), QPointF(30, 12), QPointF(17, 25), QPointF(14, 22)}));
        p.setBrush(QColor(60, 60, 60));
        p.drawPolygon(QPolygonF({QPointF(14, 22), QPointF(17, 25), QPointF(12.5, 26.5)}));
        break;
    case IconDelete:
        p.setPen(QPen(QColor(200, 40, 40), 4.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(8, 8), QPointF(24, 24));
        p.drawLine(QPointF(24, 8), QPointF(8, 24));
        break;
    case IconSend:
        drawPage(p, QRectF(3, 3, 17, 23));
        drawArrow(p, QPointF(13, 22), QPointF(29, 22), QColor(30, 80, 180));
        break;
    case IconReceive:
        p.setPen(QPen(QColor(80, 80, 80), 1.5));
        p.setBrush(QColor(210, 210, 210));
        p.drawRoundedRect(QRectF(4, 20, 24, 9), 2, 2);
        drawArrow(p, QPointF(16, 3), QPointF(16, 21), QColor(30, 140, 50));
        break;
    case IconView:
        drawPage(p, QRectF(3, 3, 18, 24));
        p.setPen(QPen(QColor(40, 40, 40), 2.2));
        p.setBrush(QColor(200, 225, 250, 200));
        p.drawEllipse(QPointF(18, 17), 6.5, 6.5);
        p.setPen(QPen(QColor(40, 40, 40), 3.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(23, 22), QPointF(29, 28));
        break;
    case IconPrint:
        drawPage(p, QRectF(9, 2, 14, 14));
        p.setPen(QPen(QColor(70, 70, 70), 1.3));
        p.setBrush(QColor(190, 190, 190));
        p.drawRoundedRect(QRectF(3, 13, 26, 11), 2, 2);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(8, 21, 16, 8));
        p.setBrush(QColor(30, 160, 60));
        p.drawEllipse(QPointF(25, 16.5), 1.3, 1.3);
        break;
    case IconExit:
        p.setPen(QPen(QColor(90, 60, 30), 1.3));
        p.setBrush(QColor(170, 120, 70));
        p.drawRect(QRectF(4, 3, 14, 26));
        p.setBrush(QColor(240, 200, 60));
        p.drawEllipse(QPointF(15, 16), 1.2, 1.2);
        drawArrow(p, QPointF(14, 16), QPointF(29, 16), QColor(200, 40, 40));
        break;
    }
    return QIcon(pm);
}

}  // namespace

QIcon programIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 32.0, size / 32.0);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(31, 63, 143));
        p.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);
        drawPage(p, QRectF(8, 4, 16, 21));
        p.setPen(QPen(QColor(240, 190, 40), 2.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(6, 28), QPointF(26, 28));
        icon.addPixmap(pm);
    }
    return icon;
}

QIcon buttonIcon(const QString& themeName, int drawn) {
    if (QIcon::hasThemeIcon(themeName)) return QIcon::fromTheme(themeName);
    return drawIcon(drawn);
}

}  // namespace telvane::shell
