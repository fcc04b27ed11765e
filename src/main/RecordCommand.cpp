// `mivra record [--seconds N] [--no-mic] [--camera] [--bubble-spot SPOT] [--silent] [--output FILE]`: records
// the display under the pointer and prints its share link, through the same
// AppState operations as the tray app; when the app runs, it is asked to do
// the recording instead. Ctrl-C stops (Done); a second Ctrl-C discards. With
// --output the recording only goes to that file.
#include "main/AppChannel.h"
#include "main/AppParts.h"
#include "main/HeadlessFallback.h"
#include "main/ServiceCommands.h"

#include "app/AppState.h"
#include "app/CommandUrl.h"
#include "app/SignalGate.h"
#include "base/Paths.h"
#include "capture/CameraPicture.h"
#include "capture/ScreenRecorder.h"
#include "main/Subcommand.h"
#include "platform/FilePreferenceStore.h"
#include "platform/SingleInstance.h"
#include "platform/SoundPlayer.h"
#include "platform/TaskbarPresence.h"
#include "platform/camera/CameraFrames.h"
#include "platform/capture/CaptureBackendChoice.h"

#include <QApplication>
#include <QCoroSignal>
#include <QCursor>
#include <QDateTime>
#include <QFile>
#include <QGuiApplication>
#include <QHash>
#include <QJsonObject>
#include <QScreen>
#include <QSet>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

int interruptPipe[2] = {-1, -1};

void onInterrupt(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(interruptPipe[1], &byte, 1);
}

// Turns SIGINT and SIGTERM into a Qt signal on the main thread.
class Interrupts : public QObject {
    Q_OBJECT
public:
    Interrupts()
    {
        if (::pipe(interruptPipe) != 0)
            return;
        m_notifier = new QSocketNotifier(interruptPipe[0], QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, [this] {
            char byte = 0;
            [[maybe_unused]] const ssize_t n = ::read(interruptPipe[0], &byte, 1);
            ++count;
            Q_EMIT interrupted();
        });
        std::signal(SIGINT, &onInterrupt);
        std::signal(SIGTERM, &onInterrupt);
    }
    int count = 0;
Q_SIGNALS:
    void interrupted();

private:
    QSocketNotifier *m_notifier = nullptr;
};

struct Request {
    double seconds = 0; // 0: until interrupted
    bool microphone = true;
    bool camera = false;
    std::optional<BubbleSpot> spot; // absent: the user's choice
    bool silent = false;
    QString output;
};

// Starts, then waits for the time to run out or an interrupt; the first
// one stops (Done), a second one during the stop discards.
QCoro::Task<int> startToFile(ScreenRecorder &recorder, const Request &request, std::optional<BubbleSpot> spot)
{
    QScreen *screen = QGuiApplication::screenAt(QCursor::pos());
    try {
        // Named tasks: GCC 12 can destroy temporaries of a co_await twice.
        auto starting = recorder.start(request.output, screen, request.microphone, spot);
        co_await starting;
    } catch (const std::exception &error) {
        co_return failure(QString::fromUtf8(error.what()));
    }
    std::fprintf(stderr, "Recording to %s; Ctrl-C to stop.\n", qPrintable(request.output));
    co_return 0;
}

QCoro::Task<int> stopToFile(ScreenRecorder &recorder, const Interrupts &interrupts)
{
    RecordingResult result;
    try {
        auto stopping = recorder.stop();
        result = co_await stopping;
    } catch (const std::exception &error) {
        co_return failure(QString::fromUtf8(error.what()));
    }
    if (interrupts.count > 1) {
        QFile::remove(result.filePath);
        std::fputs("Discarded.\n", stderr);
        co_return 1;
    }
    std::printf("%s\n", qPrintable(result.filePath));
    std::fprintf(stderr, "%dx%d, %.1f s\n", result.width, result.height, double(result.durationMs) / 1000.0);
    co_return 0;
}

// The user's preferences, with some keys held for this run only: what the
// command line asks for must not change the app's own settings.
class RunPreferences final : public PreferenceStore {
public:
    RunPreferences(std::shared_ptr<PreferenceStore> inner, QHash<QString, PrefValue> held) : m_inner(std::move(inner))
    {
        for (auto it = held.cbegin(); it != held.cend(); ++it)
            m_held.insert(it.key(), it.value());
    }
    std::optional<PrefValue> value(const QString &key) const override
    {
        const auto it = m_held.constFind(key);
        return it != m_held.cend() ? *it : m_inner->value(key);
    }
    bool setValue(const QString &key, const PrefValue &value) override
    {
        if (m_held.contains(key)) {
            m_held[key] = value;
            return true;
        }
        return m_inner->setValue(key, value);
    }
    bool remove(const QString &key) override
    {
        if (m_held.contains(key)) {
            m_held[key] = std::nullopt;
            return true;
        }
        return m_inner->remove(key);
    }

private:
    std::shared_ptr<PreferenceStore> m_inner;
    QHash<QString, std::optional<PrefValue>> m_held;
};

// Remembers where the recording goes, for a discard after the stop began.
class PathKeepingRecorder final : public Recorder {
public:
    QCoro::Task<> start(QString outputPath, QScreen *screen, bool microphone,
                        std::optional<BubbleSpot> bubbleSpot) override
    {
        path = outputPath;
        return inner->start(std::move(outputPath), screen, microphone, bubbleSpot);
    }
    QCoro::Task<RecordingResult> stop() override { return inner->stop(); }
    void setOnLost(std::function<void(const QString &)> onLost) override { inner->setOnLost(std::move(onLost)); }

    std::shared_ptr<Recorder> inner;
    QString path;
};

class NoSound final : public SoundPlayer {
public:
    void play(const QString &) override {}
};

// Opens once the time is up, on the first interrupt, or when the recording
// of `state` (if given) ends by itself.
QCoro::Task<> waitForStop(const Request &request, Interrupts &interrupts, const AppState *state = nullptr)
{
    if (interrupts.count > 0)
        co_return;
    SignalGate gate;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &gate, &SignalGate::open);
    QObject::connect(&interrupts, &Interrupts::interrupted, &gate, &SignalGate::open);
    if (state) {
        QObject::connect(state, &AppState::phaseChanged, &gate, [state, &gate] {
            if (!state->phase().is(Phase::Kind::recording))
                gate.open();
        });
    }
    if (request.seconds > 0)
        timer.start(int(request.seconds * 1000));
    co_await qCoro(&gate, &SignalGate::opened);
}

QCoro::Task<> untilIdle(const AppState &state)
{
    if (state.phase().is(Phase::Kind::idle))
        co_return;
    SignalGate gate;
    QObject::connect(&state, &AppState::phaseChanged, &gate, [&state, &gate] {
        if (state.phase().is(Phase::Kind::idle))
            gate.open();
    });
    co_await qCoro(&gate, &SignalGate::opened);
}

QString failureText(const AppState &state, const QString &fallback)
{
    return state.hasLastError() ? state.lastErrorText() : fallback;
}

// The tray app's road: start, stop (or discard), upload, link.
QCoro::Task<int> recordAndShare(AppState &state, Request request, Interrupts &interrupts)
{
    QSet<QString> known;
    for (const RecentLink &link : state.recent())
        known.insert(link.id);
    state.setSilentNext(request.silent);
    auto starting = state.startRecording();
    co_await starting;
    if (!state.phase().is(Phase::Kind::recording))
        co_return failure(failureText(state, QStringLiteral("The recording did not start.")));
    std::fputs(request.seconds > 0 ? "Recording; Ctrl-C to stop early, twice to discard.\n"
                                   : "Recording; Ctrl-C to stop, twice to discard.\n",
               stderr);
    auto waiting = waitForStop(request, interrupts, &state);
    co_await waiting;
    if (interrupts.count > 1) {
        auto discarding = state.discardRecording();
        co_await discarding;
        std::fputs("Discarded.\n", stderr);
        co_return 1;
    }

    // Done or the trash can on the recording bar began the ending already.
    const bool endedOnBar = !state.phase().is(Phase::Kind::recording);
    if (endedOnBar) {
        auto ending = untilIdle(state);
        co_await ending;
    } else {
        auto stopping = state.stopRecording();
        co_await stopping;
    }
    ServiceCommands::endProgress();
    for (const RecentLink &link : state.recent()) {
        if (!known.contains(link.id)) {
            std::printf("%s\n", qPrintable(link.shareUrl));
            co_return 0;
        }
    }
    if (endedOnBar && !state.hasLastError()) {
        std::fputs("Discarded.\n", stderr);
        co_return 1;
    }
    co_return failure(failureText(state, QStringLiteral("No link was made.")));
}

int recordHere(int argc, char **argv, const Request &request)
{
    preferXWaylandForOurWindows();
    HeadlessFallback::allow();
    QApplication app(argc, argv);
    if (HeadlessFallback::happened()) {
        // The recording itself needs no window; the camera bubble does.
        if (request.camera)
            return failure(QStringLiteral("The camera bubble needs a window. ") +
                           QString::fromUtf8(HeadlessFallback::missingDisplaySentence()));
        std::fputs("mivra: no display for windows; the link is printed here but not put on the clipboard.\n", stderr);
    }
    QCoreApplication::setApplicationName(QStringLiteral("Mivra Video"));
    QCoreApplication::setOrganizationName(QStringLiteral("Mivra"));
    Interrupts interrupts;
    // Camera and microphone as asked, for this run only.
    QHash<QString, PrefValue> held{{QStringLiteral("cameraEnabled"), PrefValue(request.camera)},
                                   {QStringLiteral("micEnabled"), PrefValue(request.microphone)}};
    if (request.spot)
        held.insert(QStringLiteral("bubbleInVideo"), PrefValue(rawValue(*request.spot)));
    auto preferences = std::make_shared<RunPreferences>(std::make_shared<FilePreferenceStore>(), held);
    auto taskbar = std::make_shared<WindowTaskbarPresence>();
    auto recorder = std::make_shared<PathKeepingRecorder>();
    AppState::setSharedFactory([preferences, taskbar, recorder] {
        AppState::Parts parts = makeAppParts(preferences, taskbar);
        recorder->inner = std::move(parts.recorder);
        parts.recorder = recorder;
        // The command ends as the link is ready, before a chime could play;
        // the link on stdout is the signal here.
        parts.sound = std::make_shared<NoSound>();
        return std::make_unique<AppState>(std::move(parts));
    });
    AppState &state = AppState::shared();

    auto progress = ServiceCommands::stderrProgress();
    QObject::connect(&state, &AppState::phaseChanged, &app, [&state, progress] {
        const Phase phase = state.phase();
        if (phase.is(Phase::Kind::uploading) && phase.totalBytes() > 0)
            progress(phase.sentBytes(), phase.totalBytes());
    });

    int status = 1;
    bool done = false;
    bool uploading = false;
    QObject::connect(&state, &AppState::phaseChanged, &app, [&state, &uploading] {
        if (state.phase().is(Phase::Kind::uploading) && !uploading) {
            uploading = true;
            std::fputs("Uploading...\n", stderr);
        }
    });
    // Once the stop has begun, AppState can no longer discard: a second
    // Ctrl-C gives up the stop and the upload, and takes the file away.
    QObject::connect(&interrupts, &Interrupts::interrupted, &app, [&] {
        const Phase phase = state.phase();
        if (done || interrupts.count < 2 || !(phase.is(Phase::Kind::finishing) || phase.is(Phase::Kind::uploading)))
            return;
        done = true;
        ServiceCommands::endProgress();
        if (!recorder->path.isEmpty())
            QFile::remove(recorder->path);
        std::fputs("Discarded.\n", stderr);
        status = 1;
        QCoreApplication::quit();
    });
    QCoro::connect(recordAndShare(state, request, interrupts), &app, [&](int result) {
        if (done)
            return;
        status = result;
        done = true;
        QCoreApplication::quit();
    });
    if (!done)
        app.exec();
    // Tasks still waiting on the network must not resume into a torn-down state.
    AppState::abandonShared();
    // The parts go while the application they belong to still exists.
    AppState::setSharedFactory(nullptr);
    return status;
}

// The running app records; the socket carries no answer back, so the link
// stays with the app.
QCoro::Task<int> recordInApp(Request request, Interrupts &interrupts)
{
    const QString socket = SingleInstance::defaultSocketPath();
    const QUrl record(request.silent ? QStringLiteral("mivra://record?silent=1") : QStringLiteral("mivra://record"));
    auto starting = SingleInstance::handOver(socket, {record});
    if (co_await starting != SingleInstance::HandOver::delivered)
        co_return failure(QStringLiteral("the running Mivra Video did not take the recording"));
    std::fputs("Mivra Video is running and records; Ctrl-C to stop.\n", stderr);
    if (!request.microphone || request.camera || request.spot)
        std::fputs("The running app records with its own camera, microphone and bubble settings.\n", stderr);
    auto waiting = waitForStop(request, interrupts);
    co_await waiting;
    auto stopping = SingleInstance::handOver(socket, {QUrl(QStringLiteral("mivra://stop"))});
    if (co_await stopping != SingleInstance::HandOver::delivered)
        co_return failure(QStringLiteral("the running Mivra Video did not take the stop"));
    std::fputs("Mivra Video makes the link and puts it on the clipboard.\n", stderr);
    co_return 0;
}

// Where the bubble is drawn into the video, when it is: with the camera on and
// a corner chosen. The on-screen choice needs a bubble window, which a
// recording to a file does not show.
std::optional<BubbleSpot> spotInVideo(const Request &request, const std::shared_ptr<PreferenceStore> &preferences)
{
    if (!request.camera)
        return std::nullopt;
    const BubbleSpot spot = request.spot.value_or(
        bubbleSpotFromRawValue(preferences->textValue(QStringLiteral("bubbleInVideo")).value_or(QString()))
            .value_or(BubbleSpot::bottomLeft));
    return spot == BubbleSpot::asOnScreen ? std::nullopt : std::optional<BubbleSpot>(spot);
}

// The running app records and answers: progress here, the link on stdout,
// the same exit status as a recording made here. An older app cannot
// answer; then it is only told to record and stop.
QCoro::Task<int> recordThroughApp(Request request, Interrupts &interrupts)
{
    QJsonObject body{{QStringLiteral("command"), QStringLiteral("record")},
                     {QStringLiteral("microphone"), request.microphone},
                     {QStringLiteral("camera"), request.camera},
                     {QStringLiteral("silent"), request.silent}};
    if (request.spot)
        body.insert(QStringLiteral("spot"), rawValue(*request.spot));
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    AppChannel::Handlers handlers;
    handlers.opened = [&](InstanceClient &client) {
        const auto stop = [&client, &interrupts] {
            client.send({{QStringLiteral("command"),
                          interrupts.count > 1 ? QStringLiteral("discard") : QStringLiteral("stop")}});
        };
        QObject::connect(&timer, &QTimer::timeout, &client, stop);
        QObject::connect(&interrupts, &Interrupts::interrupted, &client, stop);
    };
    handlers.message = [&](const QJsonObject &line) {
        if (!line.value(QStringLiteral("recording")).toBool())
            return;
        std::fputs(request.seconds > 0 ? "Recording in Mivra Video; Ctrl-C to stop early, twice to discard.\n"
                                       : "Recording in Mivra Video; Ctrl-C to stop, twice to discard.\n",
                   stderr);
        if (request.seconds > 0)
            timer.start(int(request.seconds * 1000));
    };
    auto asking = AppChannel::ask(body, handlers);
    const AppChannel::Result result = co_await asking;
    if (result.outcome == AppChannel::Outcome::done)
        co_return result.status;
    AppChannel::sayOlderApp("it records with its own settings and keeps the link.");
    auto handing = recordInApp(request, interrupts);
    co_return co_await handing;
}

int recordToFile(int argc, char **argv, const Request &request)
{
    HeadlessFallback::allow();
    QGuiApplication app(argc, argv);
    Interrupts interrupts;
    auto preferences = std::make_shared<FilePreferenceStore>();
    ScreenRecorder recorder(makeCapturePlatform(chooseCaptureBackend(), preferences));
    const std::optional<BubbleSpot> spot = spotInVideo(request, preferences);
    std::unique_ptr<CameraFrames> camera = spot ? makeCameraFrames() : nullptr;
    if (spot && !camera)
        std::fputs("No camera to draw: the video is recorded without the bubble.\n", stderr);
    int status = 1;
    bool started = false;
    bool stopping = false;
    std::optional<QCoro::Task<>> stopTask;
    auto finishWith = [&status](int result) {
        status = result;
        QCoreApplication::quit();
    };
    auto stop = [&] {
        if (!started || stopping)
            return;
        stopping = true;
        if (camera)
            camera->stop();
        stopTask = stopToFile(recorder, interrupts).then(finishWith);
    };
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, stop);
    QObject::connect(&interrupts, &Interrupts::interrupted, stop);
    QCoro::Task<> startTask = startToFile(recorder, request, spot).then([&](int result) {
        if (result != 0)
            return finishWith(result);
        started = true;
        if (std::function<void(VideoFrame)> intake = recorder.cameraIntake(); camera && intake) {
            camera->start([intake](const QVideoFrame &picture) {
                if (std::optional<VideoFrame> bgrx = bgrxCameraPicture(picture))
                    intake(std::move(*bgrx));
            });
        }
        if (interrupts.count > 0)
            return stop();
        if (request.seconds > 0)
            timer.start(int(request.seconds * 1000));
    });
    app.exec();
    return status;
}

int runRecord(int argc, char **argv, const QStringList &arguments)
{
    Request request;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (argument == QLatin1String("--no-mic")) {
            request.microphone = false;
        } else if (argument == QLatin1String("--camera")) {
            request.camera = true;
        } else if (argument == QLatin1String("--bubble-spot") && i + 1 < arguments.size()) {
            request.spot = bubbleSpotFromRawValue(arguments[++i]);
            if (!request.spot)
                return usageError(QStringLiteral("--bubble-spot needs one of bottomLeft, bottomRight, topLeft, "
                                                 "topRight, asOnScreen"));
        } else if (argument == QLatin1String("--silent")) {
            request.silent = true;
        } else if (argument == QLatin1String("--seconds") && i + 1 < arguments.size()) {
            bool ok = false;
            request.seconds = arguments[++i].toDouble(&ok);
            if (!ok || request.seconds <= 0)
                return usageError(QStringLiteral("--seconds needs a positive number"));
        } else if (argument == QLatin1String("--output") && i + 1 < arguments.size()) {
            request.output = arguments[++i];
        } else {
            return usageError(QStringLiteral("unknown argument '%1' for record").arg(argument));
        }
    }
    if (request.output.isEmpty() && ServiceCommands::appIsRunning()) {
        QCoreApplication app(argc, argv);
        Interrupts interrupts;
        return ServiceCommands::runToEnd(app, recordThroughApp(request, interrupts));
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return failure(QStringLiteral("No display (neither DISPLAY nor WAYLAND_DISPLAY is set), so the screen cannot "
                                      "be recorded."));
    if (!request.output.isEmpty())
        return recordToFile(argc, argv, request);
    return recordHere(argc, argv, request);
}

const char *const kRecordOptions =
    "Options:\n"
    "  --seconds N          stop after N seconds (default: at Ctrl-C)\n"
    "  --no-mic             record without the microphone\n"
    "  --camera             draw the camera into the video (MIVRA_CAMERA=test: a test picture)\n"
    "  --bubble-spot SPOT   where the camera goes: bottomLeft, bottomRight, topLeft, topRight\n"
    "                       or asOnScreen (default: the app's setting)\n"
    "  --silent             only copy the link, do not open it\n"
    "  --output FILE        record to FILE only; nothing is uploaded\n"
    "\n"
    "These options hold for this run only; the app's settings stay as they are.\n"
    "Ctrl-C stops and uploads; a second Ctrl-C discards.\n";

const bool registered = registerSubcommand({"record",
                                            "record [--seconds N] [--no-mic] [--camera] [--bubble-spot SPOT] "
                                            "[--silent] [--output FILE]",
                                            "record the screen and print its share link", &runRecord, kRecordOptions});

} // namespace

#include "RecordCommand.moc"
