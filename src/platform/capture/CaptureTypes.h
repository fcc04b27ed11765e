#pragma once

#include <QRect>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// One monitor as the capture adapter lists it.
struct DisplayInfo {
    quint32 id = 0;         // RandR output id (the root window when RandR lists none)
    QString name;           // RandR output name, as Qt names its screens
    QRect pixelRect;        // position and size on the X screen, in pixels
    double widthPoints = 0; // pixels divided by the desktop scale
    double heightPoints = 0;
};

// One screen picture: 32-bit B,G,R,X in memory, the X byte meaningless.
struct VideoFrame {
    std::shared_ptr<const uint8_t[]> pixels; // keeps the buffer alive while queued
    int width = 0;
    int height = 0;
    int strideBytes = 0;
    int64_t timestampUs = 0; // monotonic clock when the picture arrived
};

// Interleaved 32-bit float samples from the microphone.
struct AudioChunk {
    std::vector<float> samples;
    int channels = 0;
    int sampleRate = 0;
    int64_t timestampUs = 0; // monotonic time of the first sample
    int frameCount() const { return channels > 0 ? int(samples.size()) / channels : 0; }
};

// Called on a capture thread when a source can go on no longer; the text is a
// complete sentence.
using CaptureFailureHandler = std::function<void(const QString &text)>;

// The monotonic clock every time stamp of a recording is taken from.
int64_t monotonicNowUs();
