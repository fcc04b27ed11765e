#include "platform/DesktopCoordinates.h"

#include <cmath>

namespace DesktopCoordinates {
namespace {
int primaryBottom(const QRect &primary)
{
    return primary.y() + primary.height();
}
} // namespace

QRectF fromDesktop(const QRect &rect, const QRect &primary)
{
    return {double(rect.x() - primary.x()), double(primaryBottom(primary) - (rect.y() + rect.height())),
            double(rect.width()), double(rect.height())};
}

QRect toDesktop(const QRectF &rect, const QRect &primary)
{
    // Edges are rounded, not the size, so adjacent rectangles stay adjacent.
    const long left = std::lround(rect.x());
    const long right = std::lround(rect.x() + rect.width());
    const long bottom = std::lround(rect.y());
    const long top = std::lround(rect.y() + rect.height());
    return {primary.x() + int(left), primaryBottom(primary) - int(top), int(right - left), int(top - bottom)};
}
} // namespace DesktopCoordinates
