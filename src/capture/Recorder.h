#pragma once

#include "capture/BubbleSpot.h"
#include "platform/capture/RecorderError.h"

#include <QCoroTask>
#include <QString>

#include <functional>
#include <optional>

class QScreen;

// A finished recording.
struct RecordingResult {
    QString filePath;      // the finished MP4
    qint64 durationMs = 0; // truncated toward zero; 0 when unknown
    int width = 0;         // pixels
    int height = 0;
};

// What the application state needs from the screen recorder. The real one is
// ScreenRecorder; tests use a double.
class Recorder {
public:
    virtual ~Recorder() = default;

    // Returns once the capture runs. `screen` is the screen under the pointer
    // (null: the first display); a bubble spot selects the composited path.
    virtual QCoro::Task<> start(QString outputPath, QScreen *screen, bool microphone,
                                std::optional<BubbleSpot> bubbleSpot) = 0;
    // Ends the capture, waits for the file to be complete and describes it.
    // Throws RecorderError (notRecording when nothing runs).
    virtual QCoro::Task<RecordingResult> stop() = 0;
    // Called on the main thread when the recording can go on no longer (the
    // screen went away); the text says why. stop() then closes the file.
    virtual void setOnLost(std::function<void(const QString &why)> onLost) { (void)onLost; }
};
