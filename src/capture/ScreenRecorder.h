#pragma once

#include "capture/Recorder.h"
#include "capture/RecordingWriter.h"
#include "capture/VideoSize.h"
#include "platform/capture/ScreenCapture.h"

#include <QObject>
#include <QTimer>

#include <coroutine>

#include <functional>
#include <memory>
#include <optional>

// Records one display into an MP4 file. Lives on the main thread; capture and
// encoding run on their own threads and report back through queued calls.
//
// A recording in progress survives the process being killed: the writer
// keeps a fragmented MP4 whose index is at the front, so everything up to the
// last completed fragment (about a second) plays. The file stays where it is.
class ScreenRecorder final : public QObject, public Recorder {
    Q_OBJECT
public:
    using WriterFactory = std::function<std::unique_ptr<RecordingWriter>(const WriterSettings &)>;
    struct Options {
        double finishTimeoutSeconds = 10.0;
        WriterFactory makeWriter; // default: CompositeWriter with a bubble spot, else DirectWriter
        std::function<QString(PixelSize)> choosePreset; // default: measured encoder speed
    };

    explicit ScreenRecorder(std::shared_ptr<CapturePlatform> platform, QObject *parent = nullptr);
    ScreenRecorder(std::shared_ptr<CapturePlatform> platform, Options options, QObject *parent = nullptr);
    ~ScreenRecorder() override;

    QCoro::Task<> start(QString outputPath, QScreen *screen, bool microphone,
                        std::optional<BubbleSpot> bubbleSpot) override;
    QCoro::Task<RecordingResult> stop() override;
    void setOnLost(std::function<void(const QString &why)> onLost) override { m_onLost = std::move(onLost); }

    // While a recording with a bubble spot runs: hands a camera picture
    // (B,G,R,X) to its writer, from any thread. Empty otherwise.
    std::function<void(VideoFrame)> cameraIntake() const;

    bool isRecording() const { return m_stream != nullptr; }
    PixelSize size() const { return m_size; }
    bool finished() const { return m_finished; }

private:
    struct Opened;
    struct FinishWaiter;
    void resumeWaiter();
    void markFinished(quint64 recording, std::optional<QString> error);
    void captureFailed(quint64 recording, const QString &text);
    void microphoneFailed(quint64 recording, const QString &text);
    QCoro::Task<> waitForFinish(double timeoutSeconds);
    void clearFields();

    std::shared_ptr<CapturePlatform> m_platform;
    Options m_options;
    // Fields of one recording.
    std::shared_ptr<ScreenSource> m_stream; // absent when not recording
    std::shared_ptr<Microphone> m_microphone;
    std::shared_ptr<RecordingWriter> m_output;
    std::optional<QString> m_outputPath;
    PixelSize m_size;
    bool m_finished = false;
    std::optional<QString> m_failure;
    std::coroutine_handle<> m_waiter; // the stop waiting for the writer
    std::function<void(const QString &)> m_onLost;
    QTimer m_finishTimer;
    // Tells late reports of an earlier recording from the current one's.
    quint64 m_recording = 0;
};
