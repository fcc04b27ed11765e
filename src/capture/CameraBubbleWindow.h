#pragma once

#include <QImage>
#include <QPoint>
#include <QRectF>
#include <QWidget>

#include <optional>

// The round camera window: frameless, above other windows, never focused,
// no taskbar entry. Shows the latest preview picture mirrored inside a
// circle with a half-white rim and a soft shadow; dragged by any point.
class CameraBubbleWindow final : public QWidget {
    Q_OBJECT
public:
    explicit CameraBubbleWindow(int diameter);

    // A picture already scaled to fill the circle (not yet mirrored).
    void setPreview(QImage picture);
    // Aspect-fill scaling of a camera picture to a square of `side` pixels.
    static QImage filled(const QImage &picture, int side);
    // Where the picture sits inside the window: the square leaves room for
    // the shadow, which falls slightly downward.
    static QRectF circle(QSizeF window);

Q_SIGNALS:
    // The user moved the window; `topLeft` is its new place on the desktop.
    void movedByUser(QPoint topLeft);

protected:
    void paintEvent(QPaintEvent *) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    QImage m_preview;
    std::optional<QPoint> m_grab; // press point inside the window while dragging by hand
    bool m_systemMove = false;
};
