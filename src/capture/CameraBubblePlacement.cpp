#include "capture/CameraBubblePlacement.h"

#include "platform/DesktopCoordinates.h"

#include <cmath>

namespace BubblePlacement {

QList<double> storedOrigin(QPoint topLeft, const QRect &primary)
{
    const QRectF square = DesktopCoordinates::fromDesktop(QRect(topLeft, QSize(kDiameter, kDiameter)), primary);
    return {square.x(), square.y()};
}

QPoint desktopTopLeft(const QList<double> &origin, const QRect &primary)
{
    return DesktopCoordinates::toDesktop(QRectF(origin[0], origin[1], kDiameter, kDiameter), primary).topLeft();
}

QPoint topLeft(const std::optional<PrefValue> &saved, const QRect &screen, const QRect &available, const QRect &primary)
{
    if (saved && std::holds_alternative<QList<double>>(*saved)) {
        const QList<double> &origin = std::get<QList<double>>(*saved);
        if (origin.size() == 2 && std::isfinite(origin[0]) && std::isfinite(origin[1]) && std::abs(origin[0]) < 1e6 &&
            std::abs(origin[1]) < 1e6) {
            const QPoint place = desktopTopLeft(origin, primary);
            if (available.contains(QRect(place, QSize(kDiameter, kDiameter))))
                return place;
        }
    }
    return {screen.x() + screen.width() / 2 - kDiameter / 2, available.y() + kTopGap};
}

} // namespace BubblePlacement
