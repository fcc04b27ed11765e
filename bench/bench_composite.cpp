// The camera bubble's cost. First, per picture: drawing the bubble and
// converting to I420 beside the conversion alone, at 2560x1600 and 1920x1080.
// Then, on the X display in DISPLAY: a recording of a screen that changes 30
// times a second with the 30 fps synthetic camera, beside a recording without
// the bubble (the direct path), in the same run.
//
//   DISPLAY=:N bench_composite [--seconds N] [--rounds N]   (0 seconds: pictures only)
#include "base/Diag.h"
#include "capture/BubbleCompositor.h"
#include "capture/CameraPicture.h"
#include "capture/EncoderPreset.h"
#include "capture/ScreenRecorder.h"
#include "platform/camera/SyntheticCamera.h"
#include "platform/capture/LinuxCapturePlatform.h"

#include <QCoroTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

namespace {

double cpuSecondsOfSelf()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

VideoFrame busyScreen(PixelSize size)
{
    VideoFrame frame;
    auto pixels = std::shared_ptr<uint8_t[]>(new uint8_t[std::size_t(size.width) * size.height * 4]);
    std::mt19937 random(7);
    for (std::size_t i = 0; i < std::size_t(size.width) * size.height * 4; ++i)
        pixels[i] = uint8_t(random());
    frame.pixels = pixels;
    frame.width = size.width;
    frame.height = size.height;
    frame.strideBytes = size.width * 4;
    return frame;
}

VideoFrame copyOf(const VideoFrame &frame)
{
    const std::size_t bytes = std::size_t(frame.strideBytes) * frame.height;
    auto pixels = std::shared_ptr<uint8_t[]>(new uint8_t[bytes]);
    std::copy_n(frame.pixels.get(), bytes, pixels.get());
    VideoFrame copy = frame;
    copy.pixels = pixels;
    return copy;
}

// Milliseconds per picture without and with the bubble. The two alternate
// picture by picture, so that both see the same load on the machine; each
// figure is the median over rounds.
std::pair<double, double> msPerPicture(BubbleCompositor &plain, BubbleCompositor &bubble, const VideoFrame &screen,
                                       PixelSize size)
{
    std::vector<uint8_t> y(std::size_t(size.width) * size.height), u(y.size() / 4), v(y.size() / 4);
    const I420View out{y.data(), u.data(), v.data(), size.width, size.width / 2, size.width / 2};
    // Two buffers of the same picture: each call takes a new screen picture.
    const VideoFrame screens[2] = {screen, copyOf(screen)};
    std::vector<double> alone, with;
    for (int round = 0; round < 9; ++round) {
        qint64 aloneNs = 0, withNs = 0;
        for (int i = 0; i < 20; ++i) {
            QElapsedTimer timer;
            timer.start();
            plain.compose(screens[i % 2], out);
            aloneNs += timer.nsecsElapsed();
            timer.restart();
            bubble.compose(screens[i % 2], out);
            withNs += timer.nsecsElapsed();
        }
        alone.push_back(double(aloneNs) / 1e6 / 20);
        with.push_back(double(withNs) / 1e6 / 20);
    }
    return {median(alone), median(with)};
}

void benchPictures()
{
    const VideoFrame camera = *bgrxCameraPicture(SyntheticCamera::picture(0));
    for (const PixelSize size : {PixelSize{2560, 1600}, PixelSize{1920, 1080}}) {
        const VideoFrame screen = busyScreen(size);
        const BubbleGeometry geometry = BubbleGeometry::forPointScale(1.0);
        BubbleCompositor plain(size, BubbleSpot::bottomRight, geometry);
        BubbleCompositor bubble(size, BubbleSpot::bottomRight, geometry);
        bubble.setCamera(camera);
        const auto [a, w] = msPerPicture(plain, bubble, screen, size);
        // A camera picture on a still screen: setting it and redoing the bubble only.
        std::vector<uint8_t> y(std::size_t(size.width) * size.height), u(y.size() / 4), v(y.size() / 4);
        const I420View out{y.data(), u.data(), v.data(), size.width, size.width / 2, size.width / 2};
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < 30; ++i) {
            bubble.setCamera(camera);
            bubble.compose(screen, out);
        }
        const double cameraMs = double(timer.nsecsElapsed()) / 1e6 / 30;
        std::printf("%dx%d: conversion alone %.2f ms/picture, with the bubble %.2f ms (x%.2f): the bubble adds "
                    "%.3f ms (goal <= 1 ms); a camera picture on a still screen %.2f ms (x%.2f of conversion)\n",
                    size.width, size.height, a, w, w / a, w - a, cameraMs, cameraMs / a);
    }
}

QCoro::Task<> pause(double seconds)
{
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setSingleShot(true);
    timer.start(int(seconds * 1000));
    co_await timer;
}

int countFrames(const QString &path)
{
    QProcess probe;
    probe.start(QStringLiteral("ffprobe"), {"-v", "error", "-select_streams", "v:0", "-count_packets", "-show_entries",
                                            "stream=nb_read_packets", "-of", "csv=p=0", path});
    probe.waitForFinished(60000);
    return probe.readAllStandardOutput().trimmed().toInt();
}

// The last log line holding `marker`, after its time stamp.
QString lastLogLine(const QString &marker)
{
    QFile log(Diag::path());
    if (!log.open(QIODevice::ReadOnly))
        return QString();
    QString last;
    for (const QByteArray &line : log.readAll().split('\n')) {
        if (line.contains(marker.toUtf8()))
            last = QString::fromUtf8(line.mid(line.indexOf(' ') + 1));
    }
    return last;
}

struct Run {
    double cpuSeconds = 0;
    double seconds = 0;
    int frames = 0;
    QString note;
};

Run record(const QString &path, double seconds, std::optional<BubbleSpot> spot)
{
    ScreenRecorder recorder(std::make_shared<LinuxCapturePlatform>());
    SyntheticCamera camera;
    Run run;
    const double cpuBefore = cpuSecondsOfSelf();
    QCoro::waitFor(recorder.start(path, QGuiApplication::primaryScreen(), false, spot));
    if (std::function<void(VideoFrame)> intake = recorder.cameraIntake()) {
        camera.start([intake](const QVideoFrame &picture) {
            if (std::optional<VideoFrame> bgrx = bgrxCameraPicture(picture))
                intake(std::move(*bgrx));
        });
    }
    QElapsedTimer wall;
    wall.start();
    QCoro::waitFor(pause(seconds));
    camera.stop();
    QCoro::waitFor(recorder.stop());
    run.seconds = double(wall.nsecsElapsed()) / 1e9;
    run.cpuSeconds = cpuSecondsOfSelf() - cpuBefore;
    run.frames = countFrames(path);
    run.note = spot ? lastLogLine(QStringLiteral("composite: ")) : lastLogLine(QStringLiteral("recording finished"));
    return run;
}

} // namespace

int main(int argc, char **argv)
{
    double seconds = 20;
    int rounds = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        const QByteArray option(argv[i]);
        if (option == "--seconds")
            seconds = QByteArray(argv[i + 1]).toDouble();
        else if (option == "--rounds")
            rounds = QByteArray(argv[i + 1]).toInt();
    }
    benchPictures();
    if (seconds <= 0 || qEnvironmentVariableIsEmpty("DISPLAY"))
        return 0;

    QGuiApplication app(argc, argv);
    QTemporaryDir dir;
    // bench_record's drawing child changes every part of the screen 30 times a second.
    QProcess drawer;
    drawer.start(QCoreApplication::applicationDirPath() + QStringLiteral("/bench_record"), {"--draw"});
    if (!drawer.waitForStarted(5000)) {
        std::fputs("bench_record --draw did not start\n", stderr);
        return 1;
    }
    const QSize pixels = QGuiApplication::primaryScreen()->size();
    std::printf("recording %dx%d for %.0f s, a screen changing 30 times a second\n", pixels.width(), pixels.height(),
                seconds);
    // The encoder's speed is measured once per size: not inside either run.
    QScreen *screen = QGuiApplication::primaryScreen();
    const PixelSize size = videoSizeFor(screen->size().width(), screen->size().height(), screen->devicePixelRatio());
    std::printf("x264 preset %s\n", qPrintable(choosePresetFor(size)));
    std::vector<double> ratios;
    for (int round = 0; round < rounds; ++round) {
        const Run direct = record(dir.filePath(QStringLiteral("direct.mp4")), seconds, std::nullopt);
        const Run bubble = record(dir.filePath(QStringLiteral("bubble.mp4")), seconds, BubbleSpot::bottomRight);
        std::printf("  direct:    %.1f pictures/s, CPU %.2f s (%s)\n", direct.frames / direct.seconds,
                    direct.cpuSeconds, qPrintable(direct.note));
        std::printf("  composite: %.1f pictures/s with the 30 fps camera, CPU %.2f s (%s)\n",
                    bubble.frames / bubble.seconds, bubble.cpuSeconds, qPrintable(bubble.note));
        ratios.push_back(bubble.cpuSeconds / direct.cpuSeconds);
    }
    std::printf("composite CPU / direct CPU: x%.2f (median of %d; goal <= 1.15)\n", median(ratios), rounds);
    drawer.kill();
    drawer.waitForFinished();
    return 0;
}
