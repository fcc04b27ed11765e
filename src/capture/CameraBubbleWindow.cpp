#include "capture/CameraBubbleWindow.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWindow>

CameraBubbleWindow::CameraBubbleWindow(int diameter)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(diameter, diameter);
    setCursor(Qt::OpenHandCursor);
    setToolTip(QStringLiteral("Drag me anywhere. Settings choose where I go in the video."));
}

void CameraBubbleWindow::setPreview(QImage picture)
{
    m_preview = std::move(picture);
    update();
}

QImage CameraBubbleWindow::filled(const QImage &picture, int side)
{
    if (picture.isNull())
        return {};
    const int crop = std::min(picture.width(), picture.height());
    const QRect square((picture.width() - crop) / 2, (picture.height() - crop) / 2, crop, crop);
    return picture.copy(square).scaled(side, side, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

void CameraBubbleWindow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF circle = QRectF(rect()).adjusted(1, 1, -1, -1);
    QPainterPath round;
    round.addEllipse(circle);
    painter.fillPath(round, Qt::black);
    if (!m_preview.isNull()) {
        painter.save();
        painter.setClipPath(round);
        // Mirrored: the user sees themselves as in a mirror.
        painter.translate(width(), 0);
        painter.scale(-1, 1);
        painter.drawImage(QRectF(rect()), m_preview);
        painter.restore();
    }
    painter.setPen(QPen(QColor(255, 255, 255, 128), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(circle);
}

void CameraBubbleWindow::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    // A window manager moves the window itself; without one, move it by hand.
    m_systemMove = windowHandle() && windowHandle()->startSystemMove();
    if (!m_systemMove)
        m_grab = event->position().toPoint();
}

void CameraBubbleWindow::mouseMoveEvent(QMouseEvent *event)
{
    if (m_grab)
        move(event->globalPosition().toPoint() - *m_grab);
}

void CameraBubbleWindow::mouseReleaseEvent(QMouseEvent *)
{
    m_grab.reset();
}

void CameraBubbleWindow::moveEvent(QMoveEvent *event)
{
    if (m_grab || m_systemMove)
        Q_EMIT movedByUser(event->pos());
}
