#include "capture/CameraBubbleWindow.h"

#include "platform/WindowCompositing.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
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
    setWindowTitle(QStringLiteral("Mivra Video Camera"));
}

namespace {
constexpr qreal kShadowBlur = 6;
constexpr qreal kShadowDrop = 2;
} // namespace

QRectF CameraBubbleWindow::circle(QSizeF window)
{
    const qreal side = std::min(window.width(), window.height()) - 2 * kShadowBlur;
    return {(window.width() - side) / 2, kShadowBlur - kShadowDrop, side, side};
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
    const QRectF round = circle(size());
    const qreal radius = round.width() / 2;
    // The shadow: a dark ring fading out around the circle, a little lower.
    const QPointF shadowCentre = round.center() + QPointF(0, kShadowDrop);
    QRadialGradient shadow(shadowCentre, radius + kShadowBlur);
    const qreal edge = radius / (radius + kShadowBlur);
    shadow.setColorAt(edge * 0.95, QColor(0, 0, 0, 110));
    shadow.setColorAt(edge, QColor(0, 0, 0, 80));
    shadow.setColorAt(1.0, QColor(0, 0, 0, 0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(shadow);
    painter.drawEllipse(shadowCentre, radius + kShadowBlur, radius + kShadowBlur);

    QPainterPath path;
    path.addEllipse(round);
    painter.fillPath(path, Qt::black);
    if (!m_preview.isNull()) {
        painter.save();
        painter.setClipPath(path);
        // Mirrored: the user sees themselves as in a mirror.
        painter.translate(round.right() + round.left(), 0);
        painter.scale(-1, 1);
        painter.drawImage(round, m_preview);
        painter.restore();
    }
    painter.setPen(QPen(QColor(255, 255, 255, 128), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(round.adjusted(1, 1, -1, -1));
}

void CameraBubbleWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Without a compositing manager the transparent corners would show black:
    // cut the window to its circle (the shadow is lost there).
    if (desktopBlendsWindows())
        clearMask();
    else
        setMask(QRegion(circle(size()).toAlignedRect(), QRegion::Ellipse));
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
    if (!m_grab)
        return;
    // Saved from here: the window's own move event may come after the release.
    const QPoint to = event->globalPosition().toPoint() - *m_grab;
    move(to);
    Q_EMIT movedByUser(to);
}

void CameraBubbleWindow::mouseReleaseEvent(QMouseEvent *)
{
    m_grab.reset();
}

void CameraBubbleWindow::moveEvent(QMoveEvent *event)
{
    if (m_systemMove)
        Q_EMIT movedByUser(event->pos());
}
