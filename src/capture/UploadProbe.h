#pragma once

#include <QString>

#include <optional>

// What the service is told about a file uploaded from the command line: its
// length and the pixel size of its first video stream, each when known.
struct MediaFacts {
    std::optional<qint64> durationMs;
    std::optional<int> width;
    std::optional<int> height;
    bool readable = false; // FFmpeg could open it as media at all
};

MediaFacts probeMediaFacts(const QString &path);
