#pragma once

#include "service/FrameGrabber.h"

// Decodes the frame with FFmpeg: from the start (or the key frame before the
// window) up to the wanted time, so a remote video is read only that far.
class FfmpegFrameGrabber final : public FrameGrabber {
public:
    QImage grab(const QUrl &source, const FrameWindow &window) override;
};
