#pragma once

#include <QList>
#include <QPoint>
#include <QRect>

class QScreen;

// Finds the screen a recording should use: the one under the pointer.
class ScreenLocator {
public:
    virtual ~ScreenLocator() = default;
    // Null only when there is no screen at all.
    virtual QScreen *screenUnderPointer() = 0;

    // The first frame holding `pointer`; else the main screen; else the first.
    // -1 when there are no frames.
    static int indexUnder(const QPoint &pointer, const QList<QRect> &frames, int mainIndex);
};

class QtScreenLocator final : public ScreenLocator {
public:
    QScreen *screenUnderPointer() override;
};
