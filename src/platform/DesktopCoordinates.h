#pragma once

#include <QRect>
#include <QRectF>

// Placement rules work with the origin at the lower left of the primary
// screen and y upward, so a rectangle's y() is its bottom edge there. The
// desktop places windows from the upper left of the virtual desktop with y
// downward. Only these two functions convert between them.
namespace DesktopCoordinates {
// `rect` on the desktop, in the placement rules' terms.
QRectF fromDesktop(const QRect &rect, const QRect &primary);
// The desktop rectangle of `rect`, rounded to whole pixels.
QRect toDesktop(const QRectF &rect, const QRect &primary);
} // namespace DesktopCoordinates
