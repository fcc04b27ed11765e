#pragma once

#include "capture/BubbleSpot.h"
#include "capture/VideoSize.h"
#include "platform/capture/CaptureTypes.h"

#include <QString>

#include <functional>
#include <optional>

struct WriterSettings {
    QString path;
    PixelSize size;
    QString preset = QStringLiteral("veryfast"); // x264 preset
    int audioSampleRate = 0;                     // 0: no sound
    int audioChannels = 0;
    // With a spot the camera is drawn into the video there.
    std::optional<BubbleSpot> bubbleSpot;
    double pointScale = 1.0; // video pixels per logical screen pixel
};

// Turns pictures and sound from any source into the file. The direct path
// hands it screen pictures as they come; a compositing stage can sit in front
// of it and hand it pictures of its own.
class RecordingWriter {
public:
    virtual ~RecordingWriter() = default;
    // Both may be called from any thread, until finish.
    virtual void videoFrame(VideoFrame frame) = 0;
    virtual void audioChunk(AudioChunk chunk) = 0;
    // A camera picture (B,G,R,X) for the bubble; any thread. Ignored by a
    // writer that draws no bubble.
    virtual void cameraFrame(VideoFrame frame) { (void)frame; }
    virtual bool drawsBubble() const { return false; }
    // Ends the recording at endUs (monotonic clock) and closes the file.
    // `done` runs once, on a writer thread, with the error's text if writing
    // failed.
    virtual void finish(int64_t endUs, std::function<void(std::optional<QString> error)> done) = 0;
};
