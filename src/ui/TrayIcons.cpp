#include "ui/TrayIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {
constexpr int kSize = 64;
const QColor kInk(0x3a, 0x3a, 0x3c);
const QColor kRecord(0xe5, 0x39, 0x35);

QPixmap canvas()
{
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

QPixmap appMark()
{
    QPixmap pixmap = canvas();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kInk, 6));
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(5, 5, kSize - 10, kSize - 10));
    p.setPen(Qt::NoPen);
    p.setBrush(kRecord);
    p.drawEllipse(QRectF(19, 19, kSize - 38, kSize - 38));
    return pixmap;
}

QPixmap dottedCircle()
{
    QPixmap pixmap = canvas();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QPen pen(kInk, 6, Qt::DotLine, Qt::RoundCap);
    p.setPen(pen);
    p.drawEllipse(QRectF(6, 6, kSize - 12, kSize - 12));
    return pixmap;
}

QPixmap upArrow()
{
    QPixmap pixmap = canvas();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kInk, 5));
    p.drawEllipse(QRectF(5, 5, kSize - 10, kSize - 10));
    p.setPen(QPen(kInk, 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(QPointF(32, 46), QPointF(32, 18));
    QPainterPath head;
    head.moveTo(20, 30);
    head.lineTo(32, 18);
    head.lineTo(44, 30);
    p.drawPath(head);
    return pixmap;
}
} // namespace

namespace TrayIcons {

QIcon icon(TrayLabel::Icon which)
{
    switch (which) {
    case TrayLabel::Icon::app:
        return QIcon(appMark());
    case TrayLabel::Icon::dottedCircle:
        return QIcon(dottedCircle());
    case TrayLabel::Icon::upArrow:
        return QIcon(upArrow());
    }
    return QIcon();
}

} // namespace TrayIcons
