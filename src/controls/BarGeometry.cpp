#include "controls/BarGeometry.h"

#include <algorithm>

namespace BarGeometry {
namespace {
double top(const QRectF &rect)
{
    return rect.y() + rect.height();
}
double bottom(const QRectF &rect)
{
    return rect.y();
}
double centreX(const QRectF &rect)
{
    return rect.x() + rect.width() / 2;
}
} // namespace

double height(bool hint)
{
    return hint ? kHintedHeight : kPlainHeight;
}

QRectF showFrame(const QRectF &visible, bool hint)
{
    const double h = height(hint);
    return {centreX(visible) - kHalfWidth, top(visible) - h - kTopGap, kWidth, h};
}

Placement place(const QRectF &bubble, const QRectF &visible, bool hint)
{
    const double h = height(hint);
    // On a screen narrower than the bar the right edge wins.
    const double x =
        std::min(std::max(centreX(bubble) - kHalfWidth, visible.x()), visible.x() + visible.width() - kWidth);
    Placement placement;
    double y = 0;
    if (bottom(visible) <= bottom(bubble) - kBubbleGap - h) {
        y = bottom(bubble) - kBubbleGap - h;
        placement.edge = BarPlacement::Edge::belowBubble;
    } else {
        y = top(bubble) + kBubbleGap;
        placement.edge = BarPlacement::Edge::aboveBubble;
    }
    placement.frame = QRectF(x, y, kWidth, h);
    placement.pillOffset = std::clamp(centreX(bubble) - (x + kHalfWidth), -kLargestPillShift, kLargestPillShift);
    return placement;
}
} // namespace BarGeometry
