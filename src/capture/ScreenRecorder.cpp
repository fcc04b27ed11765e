#include "capture/ScreenRecorder.h"

#include "base/Diag.h"
#include "capture/CompositeWriter.h"
#include "capture/DirectWriter.h"
#include "capture/EncoderPreset.h"
#include "capture/MediaProbe.h"
#include "capture/OffMainThread.h"

#include <QFile>
#include <QPointer>
#include <QScreen>

#include <chrono>

namespace {
// Releases capture objects on the thread pool: their destructors join
// threads, which must not hold up the main thread.
template <typename... Objects> void releaseOffMainThread(Objects... objects)
{
    QThreadPool::globalInstance()->start([... held = std::move(objects)]() mutable { ((held.reset()), ...); });
}
} // namespace

// What start opens off the main thread.
struct ScreenRecorder::Opened {
    std::shared_ptr<ScreenSource> stream;
    std::shared_ptr<Microphone> microphone;
    std::shared_ptr<RecordingWriter> output;
};

ScreenRecorder::ScreenRecorder(std::shared_ptr<CapturePlatform> platform, QObject *parent)
    : ScreenRecorder(std::move(platform), Options{}, parent)
{
}

ScreenRecorder::ScreenRecorder(std::shared_ptr<CapturePlatform> platform, Options options, QObject *parent)
    : QObject(parent), m_platform(std::move(platform)), m_options(std::move(options))
{
    if (!m_options.makeWriter)
        m_options.makeWriter = [](const WriterSettings &settings) -> std::unique_ptr<RecordingWriter> {
            if (settings.bubbleSpot)
                return std::make_unique<CompositeWriter>(settings, settings.pointScale, *settings.bubbleSpot);
            return std::make_unique<DirectWriter>(settings);
        };
    if (!m_options.choosePreset)
        m_options.choosePreset = &choosePresetFor;
    m_finishTimer.setSingleShot(true);
    m_finishTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_finishTimer, &QTimer::timeout, this, &ScreenRecorder::resumeWaiter);
}

ScreenRecorder::~ScreenRecorder()
{
    // Stopping the sources before the writer lets it close the file cleanly.
    if (m_stream)
        m_stream->stop();
    if (m_microphone)
        m_microphone->stop();
}

QCoro::Task<> ScreenRecorder::start(QString outputPath, QScreen *screen, bool microphone,
                                    std::optional<BubbleSpot> bubbleSpot)
{
    QPointer<QScreen> screenGuard(screen);
    std::shared_ptr<CapturePlatform> platform = m_platform;
    // GCC 12 may destroy temporaries of a co_await expression twice: every
    // awaited task here is a named local.
    if (auto *preparation = dynamic_cast<CapturePreparation *>(platform.get())) {
        // The desktop may ask the user which screen to share first.
        auto preparing = preparation->prepare();
        co_await preparing;
        screen = screenGuard.data();
    }
    auto listing = offMainThread([platform] { return platform->displays(); });
    const QList<DisplayInfo> displays = co_await listing;
    screen = screenGuard.data();
    const std::optional<quint32> wantedId = screen ? m_platform->displayIdOf(screen, displays) : std::nullopt;
    const std::optional<DisplayInfo> display = chooseDisplay(displays, wantedId);
    if (!display)
        throw RecorderError::noDisplay();
    const double scale = screen ? screen->devicePixelRatio() : kDefaultPointScale;
    const PixelSize size = videoSizeFor(display->widthPoints, display->heightPoints, scale);
    Diag::log(QStringLiteral("recording display %1 at %2x%3, mic=%4, bubble=%5")
                  .arg(display->id)
                  .arg(size.width)
                  .arg(size.height)
                  .arg(microphone ? QStringLiteral("true") : QStringLiteral("false"))
                  .arg(bubbleSpot ? rawValue(*bubbleSpot) : QStringLiteral("captured")));

    // Whatever an earlier start left behind is replaced.
    if (m_stream || m_output)
        releaseOffMainThread(std::exchange(m_stream, nullptr), std::exchange(m_microphone, nullptr),
                             std::exchange(m_output, nullptr));
    QFile::remove(outputPath);

    const Options options = m_options;
    auto open = [platform, options, display = *display, size, microphone, outputPath, bubbleSpot] {
        Opened result;
        result.stream = platform->openScreen(display);
        if (microphone)
            result.microphone = platform->openMicrophone();
        WriterSettings settings;
        settings.path = outputPath;
        settings.size = size;
        settings.preset = options.choosePreset(size);
        settings.bubbleSpot = bubbleSpot;
        // Video pixels per logical pixel: the bubble has the same logical size on any screen.
        settings.pointScale = display.widthPoints > 0 ? size.width / display.widthPoints : 1.0;
        if (result.microphone) {
            settings.audioSampleRate = result.microphone->sampleRate();
            settings.audioChannels = result.microphone->channels();
        }
        result.output = options.makeWriter(settings);
        return result;
    };
    auto opening = offMainThread(std::move(open));
    Opened opened = co_await opening;

    m_stream = opened.stream;
    m_microphone = opened.microphone;
    m_output = opened.output;
    m_outputPath = outputPath;
    m_size = size;
    m_finished = false;
    m_failure.reset();
    const quint64 recording = ++m_recording;

    // Capture threads reach the writer directly and this object only through
    // queued calls, which are dropped if it is gone.
    std::weak_ptr<RecordingWriter> writer = m_output;
    QPointer<ScreenRecorder> self(this);
    auto onFailure = [self, recording](const QString &text) {
        QMetaObject::invokeMethod(
            self.data(),
            [self, recording, text] {
                if (self)
                    self->captureFailed(recording, text);
            },
            Qt::QueuedConnection);
    };
    m_stream->start(
        [writer](VideoFrame frame) {
            if (auto output = writer.lock())
                output->videoFrame(std::move(frame));
        },
        onFailure);
    if (m_microphone) {
        auto onMicrophoneFailure = [self, recording](const QString &text) {
            QMetaObject::invokeMethod(
                self.data(),
                [self, recording, text] {
                    if (self)
                        self->microphoneFailed(recording, text);
                },
                Qt::QueuedConnection);
        };
        m_microphone->start(
            [writer](AudioChunk chunk) {
                if (auto output = writer.lock())
                    output->audioChunk(std::move(chunk));
            },
            onMicrophoneFailure);
    }
}

std::function<void(VideoFrame)> ScreenRecorder::cameraIntake() const
{
    if (!m_output || !m_output->drawsBubble())
        return {};
    std::weak_ptr<RecordingWriter> writer = m_output;
    return [writer](VideoFrame picture) {
        if (auto output = writer.lock())
            output->cameraFrame(std::move(picture));
    };
}

QCoro::Task<RecordingResult> ScreenRecorder::stop()
{
    if (!m_stream || !m_outputPath)
        throw RecorderError::notRecording();
    const int64_t endUs = monotonicNowUs();
    const quint64 recording = m_recording;
    const QString path = *m_outputPath;
    std::shared_ptr<ScreenSource> stream = m_stream;
    std::shared_ptr<Microphone> mic = m_microphone;
    std::shared_ptr<RecordingWriter> output = m_output;
    try {
        auto stopping = offMainThread([stream, mic] {
            stream->stop();
            if (mic)
                mic->stop();
        });
        co_await stopping;
    } catch (...) {
        clearFields();
        throw;
    }

    QPointer<ScreenRecorder> self(this);
    output->finish(endUs, [self, recording](std::optional<QString> error) {
        QMetaObject::invokeMethod(
            self.data(),
            [self, recording, error] {
                if (self)
                    self->markFinished(recording, error);
            },
            Qt::QueuedConnection);
    });
    if (!m_finished) {
        auto waiting = waitForFinish(m_options.finishTimeoutSeconds);
        co_await waiting;
    }
    if (m_failure) {
        const QString text = *m_failure;
        clearFields();
        throw RecorderError::failed(text);
    }
    auto probing = offMainThread([path] { return probeDurationMs(path); });
    const std::optional<qint64> durationMs = co_await probing;
    RecordingResult result{path, durationMs.value_or(0), m_size.width, m_size.height};
    clearFields();
    co_return result;
}

void ScreenRecorder::markFinished(quint64 recording, std::optional<QString> error)
{
    if (recording != m_recording)
        return;
    if (error)
        m_failure = error;
    m_finished = true;
    resumeWaiter();
}

void ScreenRecorder::captureFailed(quint64 recording, const QString &text)
{
    // Without the screen nothing more can be recorded: the owner is told at
    // once, so the file ends at the loss instead of freezing on its last
    // picture. Stop closes it properly and reports the text.
    if (recording != m_recording || !m_stream)
        return;
    Diag::log(QStringLiteral("recording capture failed: ") + text);
    const bool first = !m_failure;
    m_failure = text;
    if (first && m_onLost)
        m_onLost(text);
}

void ScreenRecorder::microphoneFailed(quint64 recording, const QString &text)
{
    // The screen goes on being recorded; the sound ends where it was lost.
    if (recording != m_recording || !m_stream)
        return;
    Diag::log(QStringLiteral("recording microphone lost, going on without sound: ") + text);
}

// Suspends the calling stop until the writer reports or the time-out fires.
struct ScreenRecorder::FinishWaiter {
    ScreenRecorder *recorder;
    bool await_ready() const noexcept { return recorder->m_finished; }
    void await_suspend(std::coroutine_handle<> stop) noexcept { recorder->m_waiter = stop; }
    void await_resume() const noexcept {}
};

QCoro::Task<> ScreenRecorder::waitForFinish(double timeoutSeconds)
{
    // Whichever comes first resumes the stop: the writer's report or the
    // time-out. After a time-out the file is described as it was left.
    m_finishTimer.start(int(timeoutSeconds * 1000));
    co_await FinishWaiter{this};
    if (!m_finished)
        Diag::log(QStringLiteral("recording writer did not finish within %1 s").arg(timeoutSeconds));
}

void ScreenRecorder::resumeWaiter()
{
    m_finishTimer.stop();
    // Cleared before resuming: the waiter is resumed exactly once.
    if (std::coroutine_handle<> waiter = std::exchange(m_waiter, nullptr))
        waiter.resume();
}

void ScreenRecorder::clearFields()
{
    releaseOffMainThread(std::exchange(m_stream, nullptr), std::exchange(m_microphone, nullptr),
                         std::exchange(m_output, nullptr));
    m_outputPath.reset();
}
