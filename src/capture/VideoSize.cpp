#include "capture/VideoSize.h"

#include <algorithm>
#include <cmath>

PixelSize videoSizeFor(double widthPoints, double heightPoints, double scale)
{
    double w = scale * widthPoints;
    double h = scale * heightPoints;
    const double longer = std::max(w, h);
    if (longer > kMaxVideoEdgePixels) {
        w *= kMaxVideoEdgePixels / longer;
        h *= kMaxVideoEdgePixels / longer;
    }
    return PixelSize{2 * int(std::trunc(w / 2)), 2 * int(std::trunc(h / 2))};
}

std::optional<DisplayInfo> chooseDisplay(const QList<DisplayInfo> &displays, std::optional<quint32> wantedId)
{
    if (displays.isEmpty())
        return std::nullopt;
    if (wantedId) {
        for (const DisplayInfo &display : displays) {
            if (display.id == *wantedId)
                return display;
        }
    }
    return displays.first();
}

int64_t videoBitRateFor(PixelSize size)
{
    return int64_t(double(size.width) * double(size.height) * 30.0 * 0.06);
}
