#pragma once

#include "platform/capture/CaptureTypes.h"

#include <QList>

#include <optional>

struct PixelSize {
    int width = 0;
    int height = 0;
    bool operator==(const PixelSize &) const = default;
};

// Largest allowed length of the longer side of a video.
constexpr double kMaxVideoEdgePixels = 2560.0;
// Pixels per point assumed when no screen is given.
constexpr double kDefaultPointScale = 2.0;

// The video size for a display of the given size in points: scaled, capped at
// kMaxVideoEdgePixels on the longer side, both sides even.
PixelSize videoSizeFor(double widthPoints, double heightPoints, double scale);

// The display with the wanted id, else the first listed; nullopt when the list
// is empty.
std::optional<DisplayInfo> chooseDisplay(const QList<DisplayInfo> &displays, std::optional<quint32> wantedId);

// Average H.264 bit rate: 0.06 bits per pixel at 30 frames per second.
int64_t videoBitRateFor(PixelSize size);
