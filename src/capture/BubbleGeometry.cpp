#include "capture/BubbleGeometry.h"

#include <algorithm>
#include <cmath>

int roundHalfAway(double value)
{
    return int(std::round(value)); // std::round rounds halves away from zero
}

BubbleGeometry BubbleGeometry::forPointScale(double pointScale)
{
    BubbleGeometry geometry;
    geometry.diameter = roundHalfAway(220.0 * pointScale);
    geometry.margin = roundHalfAway(24.0 * pointScale);
    geometry.border = std::max(2, roundHalfAway(2.0 * pointScale));
    return geometry;
}

BubblePoint bubbleOrigin(BubbleSpot spot, PixelSize frame, const BubbleGeometry &geometry)
{
    const int m = geometry.margin;
    const int d = geometry.diameter;
    switch (spot) {
    case BubbleSpot::bottomRight:
        return {frame.width - m - d, m};
    case BubbleSpot::topLeft:
        return {m, frame.height - m - d};
    case BubbleSpot::topRight:
        return {frame.width - m - d, frame.height - m - d};
    case BubbleSpot::bottomLeft:
    case BubbleSpot::asOnScreen:
        break;
    }
    return {m, m};
}

CameraCrop cameraCrop(int cameraWidth, int cameraHeight, int diameter)
{
    const int side = std::min(cameraWidth, cameraHeight);
    if (side <= 0 || diameter <= 0)
        return {};
    // The offsets are whole pixels of the scaled, mirrored picture; here they
    // are taken back to the camera's own pixels. Mirrored, the left offset
    // counts from the camera's right edge.
    const double scale = double(diameter) / side;
    const int cx = roundHalfAway((cameraWidth * scale - diameter) / 2.0);
    const int cy = roundHalfAway((cameraHeight * scale - diameter) / 2.0);
    CameraCrop crop;
    crop.side = side;
    crop.x = std::clamp(roundHalfAway((cameraWidth * scale - cx - diameter) / scale), 0, cameraWidth - side);
    // cy counts from the bottom edge.
    crop.y = std::clamp(cameraHeight - side - roundHalfAway(cy / scale), 0, cameraHeight - side);
    return crop;
}

double discCoverage(double distance, double radius)
{
    return std::clamp(radius - distance, 0.0, 1.0);
}
