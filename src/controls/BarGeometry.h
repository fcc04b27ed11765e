#pragma once

#include "controls/BarPlacement.h"

#include <QRectF>

// Where the recording bar goes, as pure geometry: origin at the lower left
// of the primary screen, y upward, so a rectangle's y() is its bottom edge.
namespace BarGeometry {
inline constexpr double kWidth = 300;
inline constexpr double kHintedHeight = 124;
inline constexpr double kPlainHeight = 56;
inline constexpr double kTopGap = 8;
inline constexpr double kBubbleGap = 10;
inline constexpr double kHalfWidth = 150;
inline constexpr double kLargestPillShift = 40;

double height(bool hint);

// Centred at the top of `visible`, 8 under its top edge.
QRectF showFrame(const QRectF &visible, bool hint);

struct Placement {
    QRectF frame;
    BarPlacement::Edge edge = BarPlacement::Edge::top;
    double pillOffset = 0;
};

// Centred under `bubble` (over it when too little room remains below), kept
// inside `visible` sideways; the pill shifts back towards the bubble by up to 40.
Placement place(const QRectF &bubble, const QRectF &visible, bool hint);
} // namespace BarGeometry
