#pragma once

#include <QImage>
#include <QSize>
#include <QUrl>

// Which picture of a video a thumbnail shows: the frame at `atSeconds`, or
// the last one before `latestSeconds` when the video ends or skips past it.
struct FrameWindow {
    double atSeconds = 1.0;
    double latestSeconds = 1.5;
    QSize fit{320, 320}; // at most this big, aspect ratio kept, never enlarged
};

// Takes one still picture from a video, upright. Implementations may be
// called from several threads at once.
class FrameGrabber {
public:
    virtual ~FrameGrabber() = default;
    // `source` is a local file or an http(s) URL, read in ranges. A null
    // image when the video cannot be read or has no frame in the window.
    virtual QImage grab(const QUrl &source, const FrameWindow &window) = 0;
};
