#pragma once

#include "capture/Recorder.h"
#include "capture/RecordingWriter.h"
#include "platform/capture/ScreenCapture.h"

#include <mutex>

// What the fakes did, kept by the test: the recorder releases the fakes
// themselves on another thread once a recording ends.
struct FakeEvents {
    std::mutex mutex;
    int sourcesStarted = 0;
    int sourcesStopped = 0;
    int microphonesStarted = 0;
    int finishCalls = 0;
    CaptureFailureHandler lastFailureHandler;
    CaptureFailureHandler microphoneFailureHandler;
    // What the capture thread would do when the display (or, with
    // `microphone`, the sound server) goes away.
    void reportFailure(const QString &text, bool microphone = false)
    {
        CaptureFailureHandler handler;
        {
            std::lock_guard lock(mutex);
            handler = microphone ? microphoneFailureHandler : lastFailureHandler;
        }
        if (handler)
            handler(text);
    }
};

// A capture service the test steers: its display list and its errors.
class FakeScreenSource final : public ScreenSource {
public:
    explicit FakeScreenSource(std::shared_ptr<FakeEvents> events) : events(std::move(events)) {}
    void start(std::function<void(VideoFrame)>, CaptureFailureHandler onFailure) override
    {
        std::lock_guard lock(events->mutex);
        events->lastFailureHandler = std::move(onFailure);
        ++events->sourcesStarted;
    }
    void stop() override
    {
        std::lock_guard lock(events->mutex);
        ++events->sourcesStopped;
    }
    int64_t framesCaptured() const override { return 0; }
    std::shared_ptr<FakeEvents> events;
};

class FakeMicrophone final : public Microphone {
public:
    explicit FakeMicrophone(std::shared_ptr<FakeEvents> events) : events(std::move(events)) {}
    int sampleRate() const override { return 48000; }
    int channels() const override { return 1; }
    void start(std::function<void(AudioChunk)>, CaptureFailureHandler onFailure) override
    {
        std::lock_guard lock(events->mutex);
        events->microphoneFailureHandler = std::move(onFailure);
        ++events->microphonesStarted;
    }
    void stop() override {}
    std::shared_ptr<FakeEvents> events;
};

class FakeCapturePlatform final : public CapturePlatform {
public:
    QList<DisplayInfo> displays() override
    {
        if (displaysError)
            throw *displaysError;
        return list;
    }
    std::optional<quint32> displayIdOf(QScreen *, const QList<DisplayInfo> &) override { return screenDisplayId; }
    std::unique_ptr<ScreenSource> openScreen(const DisplayInfo &display) override
    {
        opened = display;
        return std::make_unique<FakeScreenSource>(events);
    }
    std::unique_ptr<Microphone> openMicrophone() override
    {
        if (microphoneError)
            throw *microphoneError;
        return std::make_unique<FakeMicrophone>(events);
    }

    QList<DisplayInfo> list;
    std::optional<quint32> screenDisplayId;
    std::optional<RecorderError> displaysError;
    std::optional<RecorderError> microphoneError;
    std::optional<DisplayInfo> opened;
    std::shared_ptr<FakeEvents> events = std::make_shared<FakeEvents>();
};

// A writer whose finish the test decides: at once, with an error, or never.
class FakeWriter final : public RecordingWriter {
public:
    enum class Finish { ok, error, never };
    FakeWriter(const WriterSettings &settings, Finish finish, QString errorText, std::shared_ptr<FakeEvents> events)
        : m_finish(finish), m_errorText(std::move(errorText)), m_events(std::move(events))
    {
        (void)settings;
    }
    void videoFrame(VideoFrame) override {}
    void audioChunk(AudioChunk) override {}
    void finish(int64_t, std::function<void(std::optional<QString>)> done) override
    {
        {
            std::lock_guard lock(m_events->mutex);
            ++m_events->finishCalls;
        }
        if (m_finish == Finish::ok)
            done(std::nullopt);
        else if (m_finish == Finish::error)
            done(m_errorText);
    }

private:
    Finish m_finish;
    QString m_errorText;
    std::shared_ptr<FakeEvents> m_events;
};
