// `mivra record [--seconds N] [--no-mic] [--silent] [--output FILE]`: records
// the display under the pointer and prints its share link, through the same
// AppState operations as the tray app; when the app runs, it is asked to do
// the recording instead. Ctrl-C stops (Done); a second Ctrl-C discards. With
// --output the recording only goes to that file.
#include "main/AppParts.h"
#include "main/ServiceCommands.h"

#include "app/AppState.h"
#include "app/CommandUrl.h"
#include "app/OutputLocation.h"
#include "app/SignalGate.h"
#include "capture/ScreenRecorder.h"
#include "main/Subcommand.h"
#include "platform/FilePreferenceStore.h"
#include "platform/Paths.h"
#include "platform/SingleInstance.h"
#include "platform/TaskbarPresence.h"
#include "platform/capture/CaptureBackendChoice.h"

#include <QApplication>
#include <QCoroSignal>
#include <QCursor>
#include <QDateTime>
#include <QFile>
#include <QGuiApplication>
#include <QHash>
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
    bool silent = false;
    QString output;
};

// Starts, then waits for the time to run out or an interrupt; the first
// one stops (Done), a second one during the stop discards.
QCoro::Task<int> startRecording(ScreenRecorder &recorder, const Request &request)
{
    QScreen *screen = QGuiApplication::screenAt(QCursor::pos());
    try {
        // Named tasks: GCC 12 can destroy temporaries of a co_await twice.
        auto starting = recorder.start(request.output, screen, request.microphone, std::nullopt);
        co_await starting;
    } catch (const std::exception &error) {
        co_return failure(QString::fromUtf8(error.what()));
    }
    std::fprintf(stderr, "Recording to %s; Ctrl-C to stop.\n", qPrintable(request.output));
    co_return 0;
}

QCoro::Task<int> stopRecording(ScreenRecorder &recorder, const Interrupts &interrupts)
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

int runRecord(int argc, char **argv, const QStringList &arguments)
{
    Request request;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (argument == QLatin1String("--no-mic")) {
            request.microphone = false;
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
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return failure(QStringLiteral("No X display (DISPLAY is not set), so the screen cannot be recorded."));
    QGuiApplication app(argc, argv);
    if (request.output.isEmpty()) {
        try {
            request.output = OutputLocation::make(Paths::recordingsFolder(), QDateTime::currentDateTime());
        } catch (const std::exception &error) {
            return failure(QString::fromUtf8(error.what()));
        }
    }
    Interrupts interrupts;
    ScreenRecorder recorder(makeCapturePlatform(chooseCaptureBackend(), std::make_shared<FilePreferenceStore>()));
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
        stopTask = stopRecording(recorder, interrupts).then(finishWith);
    };
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, stop);
    QObject::connect(&interrupts, &Interrupts::interrupted, stop);
    QCoro::Task<> startTask = startRecording(recorder, request).then([&](int result) {
        if (result != 0)
            return finishWith(result);
        started = true;
        if (interrupts.count > 0)
            return stop();
        if (request.seconds > 0)
            timer.start(int(request.seconds * 1000));
    });
    app.exec();
    return status;
}

const bool registered = registerSubcommand(
    {"record", "record [--seconds N] [--no-mic] [--output FILE]", "record the screen to an MP4 file", &runRecord});

} // namespace

#include "RecordCommand.moc"
