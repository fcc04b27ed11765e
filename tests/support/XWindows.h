#pragma once

// Windows on the X server as the server itself reports them, and xdotool.

#include <QRect>
#include <QString>
#include <QStringList>

// The window's place and size from xwininfo; empty when it cannot tell.
QRect serverGeometry(quint64 window);
// The output of `xdotool ARGUMENTS`; for a search, the first window found.
QString xdotool(const QStringList &arguments);
// The first visible window whose name matches `name`, 0 when none.
quint64 visibleWindowNamed(const QString &name);
// Presses the left button at `from`, moves to `to` and lets go.
void dragWithPointer(QPoint from, QPoint to);
