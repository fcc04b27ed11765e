// Records a PipeWire screen node whose whole picture changes every frame, as
// the Wayland path does after the portal handed it over, and in the same run
// does the same with GStreamer's consumer feeding ffmpeg (same x264 preset,
// bit rate and key interval). Then a still screen: a node that sends a
// picture every 10 s, as a compositor sends none while nothing changes.
// Starts its own D-Bus, PipeWire, WirePlumber and gst-launch producer.
//
//   bench_record_wayland [--seconds N] [--quiet-seconds N] [--size WxH]... [--preset P]
//
// --preset pins the x264 preset of both sides (default: chosen by measured
// speed, as the app does), for comparing with another path's run.
#include "capture/EncoderPreset.h"
#include "capture/ScreenRecorder.h"
#include "platform/capture/PipeWireScreenSource.h"

#include <QCoroTask>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

QString g_preset; // empty: measured

QString presetFor(QSize size)
{
    return g_preset.isEmpty() ? choosePresetFor(PixelSize{size.width(), size.height()}) : g_preset;
}

double cpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Lets the event loop run for a while without spinning.
void idle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// D-Bus, PipeWire and WirePlumber in a private runtime folder.
struct Services {
    QTemporaryDir runtime{QDir::tempPath() + QStringLiteral("/mivra-bench-pw-XXXXXX")};
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    std::vector<std::unique_ptr<QProcess>> running;

    ~Services()
    {
        for (auto it = running.rbegin(); it != running.rend(); ++it) {
            (*it)->terminate();
            (*it)->waitForFinished(2000);
        }
    }
    QProcess *launch(const QString &program, const QStringList &arguments)
    {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(environment);
        process->setStandardErrorFile(QProcess::nullDevice());
        process->start(program, arguments);
        process->waitForStarted(5000);
        running.push_back(std::move(process));
        return running.back().get();
    }
    bool start()
    {
        QProcess *bus = launch(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                               QStringLiteral("--address=unix:dir=") + runtime.path(),
                                                               QStringLiteral("--print-address=1")});
        if (!bus->waitForReadyRead(5000))
            return false;
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromUtf8(bus->readLine()).trimmed());
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        environment.insert(QStringLiteral("XDG_STATE_HOME"), runtime.path() + QStringLiteral("/state"));
        launch(QStringLiteral("pipewire"), {});
        for (int i = 0; i < 100 && !QFileInfo::exists(runtime.path() + QStringLiteral("/pipewire-0")); ++i)
            QThread::msleep(50);
        launch(QStringLiteral("wireplumber"), {});
        return QFileInfo::exists(runtime.path() + QStringLiteral("/pipewire-0"));
    }
    UniqueFd connect() const
    {
        UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray path = (runtime.path() + QStringLiteral("/pipewire-0")).toUtf8();
        std::strncpy(address.sun_path, path.constData(), sizeof(address.sun_path) - 1);
        if (::connect(fd.get(), reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
            return UniqueFd();
        return fd;
    }
    std::optional<uint32_t> nodeId(const QString &name) const
    {
        for (int attempt = 0; attempt < 100; ++attempt) {
            QProcess dump;
            dump.setProcessEnvironment(environment);
            dump.start(QStringLiteral("pw-dump"), {});
            dump.waitForFinished(5000);
            for (const QJsonValue &object : QJsonDocument::fromJson(dump.readAllStandardOutput()).array()) {
                if (object[QStringLiteral("info")][QStringLiteral("props")][QStringLiteral("node.name")].toString() ==
                    name)
                    return uint32_t(object[QStringLiteral("id")].toInt());
            }
            QThread::msleep(50);
        }
        return std::nullopt;
    }
};

// The one display a producer node stands for.
class NodePlatform final : public CapturePlatform {
public:
    NodePlatform(const Services &services, uint32_t node, QSize size) : m_services(services), m_node(node), m_size(size)
    {
    }
    QList<DisplayInfo> displays() override
    {
        return {DisplayInfo{m_node, QString(), QRect(QPoint(0, 0), m_size), double(m_size.width()),
                            double(m_size.height())}};
    }
    std::optional<quint32> displayIdOf(QScreen *, const QList<DisplayInfo> &) override { return m_node; }
    std::unique_ptr<ScreenSource> openScreen(const DisplayInfo &) override
    {
        return std::make_unique<PipeWireScreenSource>(m_services.connect(), m_node);
    }
    std::unique_ptr<Microphone> openMicrophone() override { return nullptr; }

private:
    const Services &m_services;
    uint32_t m_node;
    QSize m_size;
};

int packetsIn(const QString &path)
{
    QProcess probe;
    probe.start(QStringLiteral("ffprobe"),
                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
                 QStringLiteral("v:0"), QStringLiteral("-count_packets"), QStringLiteral("-show_entries"),
                 QStringLiteral("stream=nb_read_packets"), QStringLiteral("-of"), QStringLiteral("csv=p=0"), path});
    probe.waitForFinished(60000);
    return QString::fromUtf8(probe.readAllStandardOutput()).trimmed().toInt();
}

struct Figures {
    int written = 0;
    double cpuSeconds = 0;
    double stopSeconds = 0;
    double wallSeconds = 0;
};

QCoro::Task<> stopQuietly(ScreenRecorder &recorder)
{
    try {
        co_await recorder.stop();
    } catch (const std::exception &error) {
        std::fprintf(stderr, "stop failed: %s\n", error.what());
    }
}

// Our path: PipeWireScreenSource into the recorder's writer.
Figures recordOurs(const Services &services, uint32_t node, QSize size, int seconds, const QString &path)
{
    auto platform = std::make_shared<NodePlatform>(services, node, size);
    ScreenRecorder::Options options;
    options.choosePreset = [size](PixelSize) { return presetFor(size); };
    ScreenRecorder recorder(platform, options);
    QScreen *screen = QGuiApplication::primaryScreen(); // offscreen: scale 1, pixels = points
    QCoro::waitFor(recorder.start(path, screen, false, std::nullopt));
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    idle(seconds * 1000);
    QElapsedTimer stopTimer;
    stopTimer.start();
    QCoro::waitFor(stopQuietly(recorder));
    Figures figures;
    figures.stopSeconds = stopTimer.elapsed() / 1000.0;
    figures.cpuSeconds = cpuSeconds(RUSAGE_SELF) - cpuBefore;
    figures.written = packetsIn(path);
    figures.wallSeconds = seconds;
    return figures;
}

// The baseline: GStreamer's PipeWire consumer handing raw pictures to ffmpeg
// with the same encoder settings (Debian's GStreamer has no x264 encoder).
// Its pipewiresrc (0.3.65) stalls after some 500 pictures of 1080p, so runs
// longer than about 15 s understate it.
Figures recordWithGstAndFfmpeg(const Services &services, uint32_t node, QSize size, int seconds, const QString &path)
{
    const QString preset = presetFor(size);
    const qint64 bitRate = qint64(size.width()) * size.height() * 30 * 6 / 100;
    const QString command =
        QStringLiteral(
            "timeout -s INT %2 gst-launch-1.0 -q pipewiresrc path=%1 ! video/x-raw,format=BGRx ! fdsink fd=1 "
            "| ffmpeg -loglevel error -y -f rawvideo -pix_fmt bgr0 -s %3x%4 -framerate 30 -i - "
            "-c:v libx264 -preset %5 -profile:v high -b:v %6 -g 60 -pix_fmt yuv420p "
            "-movflags +faststart %7")
            .arg(node)
            .arg(seconds)
            .arg(size.width())
            .arg(size.height())
            .arg(preset)
            .arg(bitRate)
            .arg(path);
    const double cpuBefore = cpuSeconds(RUSAGE_CHILDREN);
    QElapsedTimer wall;
    wall.start();
    QProcess shell;
    shell.setProcessEnvironment(services.environment);
    shell.start(QStringLiteral("sh"), {QStringLiteral("-c"), command});
    shell.waitForFinished(seconds * 3000 + 30000);
    Figures figures;
    figures.wallSeconds = wall.elapsed() / 1000.0;
    figures.cpuSeconds = cpuSeconds(RUSAGE_CHILDREN) - cpuBefore;
    figures.written = packetsIn(path);
    return figures;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    int seconds = 20;
    int quietSeconds = 10;
    QList<QSize> sizes;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QStringLiteral("--seconds"))
            seconds = args[i + 1].toInt();
        else if (args[i] == QStringLiteral("--quiet-seconds"))
            quietSeconds = args[i + 1].toInt();
        else if (args[i] == QStringLiteral("--preset"))
            g_preset = args[i + 1];
        else if (args[i] == QStringLiteral("--size"))
            sizes << QSize(args[i + 1].section(QLatin1Char('x'), 0, 0).toInt(),
                           args[i + 1].section(QLatin1Char('x'), 1, 1).toInt());
    }
    if (sizes.isEmpty())
        sizes = {QSize(1920, 1080), QSize(2560, 1600)};

    Services services;
    if (!services.start()) {
        std::fprintf(stderr, "PipeWire could not be started here\n");
        return 1;
    }
    QTemporaryDir out;
    for (const QSize &size : sizes) {
        const QString caps = QStringLiteral("video/x-raw,format=BGRx,width=%1,height=%2,framerate=30/1")
                                 .arg(size.width())
                                 .arg(size.height());
        const QString label = QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
        std::printf("== %s, %d s, preset %s\n", qPrintable(label), seconds, qPrintable(presetFor(size)));
        // A fresh producer for each consumer: gst's pipewiresink sends nothing
        // to a second one. Every part of the picture moves each frame.
        int run = 0;
        auto produce = [&]() -> std::optional<uint32_t> {
            const QString name = QStringLiteral("bench-%1-%2").arg(size.width()).arg(++run);
            services.launch(QStringLiteral("gst-launch-1.0"),
                            QProcess::splitCommand(QStringLiteral("videotestsrc pattern=smpte horizontal-speed=7 ! "
                                                                  "%1 ! pipewiresink mode=provide "
                                                                  "stream-properties=props,node.name=%2")
                                                       .arg(caps, name)));
            return services.nodeId(name);
        };
        auto endProducer = [&] {
            services.running.back()->terminate();
            services.running.back()->waitForFinished(2000);
            services.running.pop_back();
        };
        std::optional<uint32_t> node = produce();
        if (!node)
            return 1;
        const Figures ours =
            recordOurs(services, *node, size, seconds, out.filePath(QStringLiteral("ours-%1.mp4").arg(label)));
        endProducer();
        node = produce();
        if (!node)
            return 1;
        const Figures gst = recordWithGstAndFfmpeg(services, *node, size, seconds,
                                                   out.filePath(QStringLiteral("gst-%1.mp4").arg(label)));
        endProducer();
        std::printf("  mivra (PipeWire):   %6.1f frames/s written, %5.1f%% of a core, stop→closed %.2f s\n",
                    ours.written / double(seconds), 100 * ours.cpuSeconds / seconds, ours.stopSeconds);
        std::printf("  pipewiresrc|ffmpeg: %6.1f frames/s written, %5.1f%% of a core\n", gst.written / gst.wallSeconds,
                    100 * gst.cpuSeconds / gst.wallSeconds);
        std::printf("  CPU per frame relative to the baseline: %.2f\n",
                    gst.cpuSeconds > 0 && ours.written > 0 && gst.written > 0
                        ? (ours.cpuSeconds / ours.written) / (gst.cpuSeconds / gst.written)
                        : 0.0);
        std::fflush(stdout);
    }

    // A still screen: a picture every 4 s, as a compositor sends nothing while nothing changes.
    services.launch(QStringLiteral("gst-launch-1.0"),
                    QProcess::splitCommand(QStringLiteral("videotestsrc pattern=smpte is-live=true ! "
                                                          "video/x-raw,format=BGRx,width=1920,height=1080,"
                                                          "framerate=1/4 ! pipewiresink mode=provide "
                                                          "stream-properties=props,node.name=bench-still")));
    if (const std::optional<uint32_t> node = services.nodeId(QStringLiteral("bench-still"))) {
        const Figures still =
            recordOurs(services, *node, QSize(1920, 1080), quietSeconds, out.filePath(QStringLiteral("still.mp4")));
        std::printf("== still 1920x1080, %d s: %.1f%% of a core (goal under 5%%)\n", quietSeconds,
                    100 * still.cpuSeconds / quietSeconds);
    }
    return 0;
}
