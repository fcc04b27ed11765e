#pragma once

#include "platform/capture/CaptureTypes.h"

#include <QCoroTask>
#include <QList>

#include <memory>
#include <optional>

class QScreen;

// Pictures of one display, delivered on a capture thread.
class ScreenSource {
public:
    virtual ~ScreenSource() = default;
    // Starts delivering; a picture comes only when something on the display
    // changed (the cursor included), at most 30 per second.
    virtual void start(std::function<void(VideoFrame)> onFrame, CaptureFailureHandler onFailure) = 0;
    // Stops and waits for the capture thread: no callback runs after it
    // returns. Takes at most about one frame interval.
    virtual void stop() = 0;
    virtual int64_t framesCaptured() const = 0;
};

// Sound from the microphone, delivered on a capture thread in chunks of about
// 10 ms stamped with the monotonic time of their first sample.
class Microphone {
public:
    virtual ~Microphone() = default;
    virtual int sampleRate() const = 0;
    virtual int channels() const = 0;
    virtual void start(std::function<void(AudioChunk)> onChunk, CaptureFailureHandler onFailure) = 0;
    // Stops and waits for the capture thread; no callback runs after it returns.
    virtual void stop() = 0;
};

// The system's capture service. Every call may throw RecorderError with a
// sentence saying what is missing (no X display, no MIT-SHM, no such monitor,
// no sound server).
class CapturePlatform {
public:
    virtual ~CapturePlatform() = default;
    virtual QList<DisplayInfo> displays() = 0;
    // The id of the listed display a Qt screen shows, if any. Main thread.
    virtual std::optional<quint32> displayIdOf(QScreen *screen, const QList<DisplayInfo> &displays) = 0;
    virtual std::unique_ptr<ScreenSource> openScreen(const DisplayInfo &display) = 0;
    virtual std::unique_ptr<Microphone> openMicrophone() = 0;
};

// A capture platform that must ask the desktop before it can list a display.
// The recorder awaits prepare() on the main thread at the head of every
// start, before displays(); it throws RecorderError when the user cancels or
// the desktop refuses.
class CapturePreparation {
public:
    virtual ~CapturePreparation() = default;
    virtual QCoro::Task<> prepare() = 0;
};
