#pragma once

#include "capture/BubbleSpot.h"
#include "capture/VideoSize.h"

// Sizes of the camera bubble in the video, in whole pixels. The bubble is 220
// logical pixels across wherever it is recorded, with a 24-pixel margin and a
// rim of at least 2 pixels.
struct BubbleGeometry {
    int diameter = 0;
    int margin = 0;
    int border = 0;

    // pointScale: video pixels per logical screen pixel.
    static BubbleGeometry forPointScale(double pointScale);
};

// Halves away from zero, as every length of the bubble is rounded.
int roundHalfAway(double value);

// Lower left corner of the bubble's square, x rightward and y upward from the
// lower left of the video. asOnScreen has no place in the video of its own and
// goes where bottomLeft does.
struct BubblePoint {
    int x = 0;
    int y = 0;
    bool operator==(const BubblePoint &) const = default;
};
BubblePoint bubbleOrigin(BubbleSpot spot, PixelSize frame, const BubbleGeometry &geometry);

// The part of a camera picture that fills the bubble: the camera is scaled so
// that its shorter side is the diameter and its centre square is taken. In the
// picture's own pixels, top-down rows, before mirroring.
struct CameraCrop {
    int x = 0; // left column
    int y = 0; // top row
    int side = 0;
    bool operator==(const CameraCrop &) const = default;
};
CameraCrop cameraCrop(int cameraWidth, int cameraHeight, int diameter);

// Coverage (0..1) of a disc at a distance from its centre: full inside
// radius - 1, none from radius on, a linear ramp between (a one-pixel soft edge).
double discCoverage(double distance, double radius);
