#include "platform/ScreenLocator.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

int ScreenLocator::indexUnder(const QPoint &pointer, const QList<QRect> &frames, int mainIndex)
{
    for (int i = 0; i < frames.size(); ++i) {
        if (frames[i].contains(pointer))
            return i;
    }
    if (mainIndex >= 0 && mainIndex < frames.size())
        return mainIndex;
    return frames.isEmpty() ? -1 : 0;
}

QScreen *QtScreenLocator::screenUnderPointer()
{
    const QList<QScreen *> screens = QGuiApplication::screens();
    QList<QRect> frames;
    for (QScreen *screen : screens)
        frames.append(screen->geometry());
    const int index = indexUnder(QCursor::pos(), frames, screens.indexOf(QGuiApplication::primaryScreen()));
    return index < 0 ? nullptr : screens[index];
}
