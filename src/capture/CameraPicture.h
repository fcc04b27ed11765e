#pragma once

#include "platform/capture/CaptureTypes.h"

#include <optional>

class QVideoFrame;

// A camera picture as B,G,R,X rows, stamped with the monotonic clock now; none
// when the picture cannot be read.
std::optional<VideoFrame> bgrxCameraPicture(const QVideoFrame &picture);
