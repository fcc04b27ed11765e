#pragma once

#include <QImage>
#include <QPoint>
#include <QWidget>

#include <optional>

// The round camera window: frameless, above other windows, never focused,
// no taskbar entry. Shows the latest preview picture mirrored inside a
// circle with a half-white rim; dragged by any point.
class CameraBubbleWindow final : public QWidget {
    Q_OBJECT
public:
    explicit CameraBubbleWindow(int diameter);

    // A picture already scaled to fill the circle (not yet mirrored).
    void setPreview(QImage picture);
    // Aspect-fill scaling of a camera picture to a square of `side` pixels.
    static QImage filled(const QImage &picture, int side);

Q_SIGNALS:
    // The user moved the window; `topLeft` is its new place on the desktop.
    void movedByUser(QPoint topLeft);

protected:
    void paintEvent(QPaintEvent *) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void moveEvent(QMoveEvent *event) override;

private:
    QImage m_preview;
    std::optional<QPoint> m_grab; // press point inside the window while dragging by hand
    bool m_systemMove = false;
};
