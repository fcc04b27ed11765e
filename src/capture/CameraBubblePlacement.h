#pragma once

#include "platform/PreferenceStore.h"

#include <QPoint>
#include <QRect>

#include <optional>

// Where the bubble window goes. The stored origin is the window's lower-left
// corner with y upward from the bottom of the primary screen; the desktop
// places windows by their upper-left corner with y downward
// (DesktopCoordinates converts).
namespace BubblePlacement {
inline constexpr int kDiameter = 220;
inline constexpr int kTopGap = 8;
inline const QString kOriginKey = QStringLiteral("bubbleOrigin");

// The stored origin of a window whose upper-left corner is at `topLeft`.
QList<double> storedOrigin(QPoint topLeft, const QRect &primary);
// The upper-left corner of the window whose stored origin is `origin`.
QPoint desktopTopLeft(const QList<double> &origin, const QRect &primary);

// The saved place when it is two numbers putting the whole square inside
// `available`; otherwise centred on `screen`, 8 pixels below the top of `available`.
QPoint topLeft(const std::optional<PrefValue> &saved, const QRect &screen, const QRect &available,
               const QRect &primary);
} // namespace BubblePlacement
