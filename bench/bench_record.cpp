// Records the whole X screen while every part of it changes each frame, and
// does the same with ffmpeg's x11grab and the same encoder settings, in the
// same run. Run it through bench_record.sh, which starts the X servers.
//
//   bench_record [--seconds N] [--quiet-seconds N] [--long-seconds N]
//   bench_record --draw      (the drawing child)
#include "BenchSupport.h"
#include "capture/EncoderPreset.h"
#include "capture/ScreenRecorder.h"
#include "platform/capture/LinuxCapturePlatform.h"
#include "platform/capture/XcbHandles.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>

#include <chrono>
#include <cstdio>
#include <thread>

namespace {

// Fills the screen with a grid of blocks whose colours all change every
// frame, at 30 frames per second, until killed.
int draw()
{
    int screenNumber = 0;
    XcbConnection connection = connectToX(&screenNumber);
    if (!connection)
        return 1;
    xcb_connection_t *c = connection.get();
    xcb_screen_t *screen = screenOf(c, screenNumber);
    const uint32_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, screen->root, 0, nullptr);
    const int cell = 40;
    auto next = std::chrono::steady_clock::now();
    for (uint32_t frame = 0;; ++frame) {
        for (int y = 0; y < screen->height_in_pixels; y += cell) {
            for (int x = 0; x < screen->width_in_pixels; x += cell) {
                const uint32_t colour = (uint32_t(x * 7 + y * 3) + frame * 0x050301u) * 2654435761u >> 8;
                xcb_change_gc(c, gc, XCB_GC_FOREGROUND, &colour);
                const xcb_rectangle_t r{int16_t(x), int16_t(y), uint16_t(cell), uint16_t(cell)};
                xcb_poly_fill_rectangle(c, screen->root, gc, 1, &r);
            }
        }
        XcbReply<xcb_get_input_focus_reply_t> sync(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        next += std::chrono::microseconds(33333);
        std::this_thread::sleep_until(next);
    }
}

struct Run {
    double frames = 0;
    double seconds = 0;
    double cpuSeconds = 0;
    double stopSeconds = 0;
    QString note;
};

Run recordOurs(const QString &path, double seconds)
{
    ScreenRecorder recorder(std::make_shared<LinuxCapturePlatform>());
    Run run;
    const double cpuBefore = cpuSecondsOfSelf();
    QCoro::waitFor(recorder.start(path, QGuiApplication::primaryScreen(), false, std::nullopt));
    QElapsedTimer wall;
    wall.start();
    QCoro::waitFor(pause(seconds));
    QElapsedTimer stopping;
    stopping.start();
    QCoro::waitFor(recorder.stop());
    run.stopSeconds = double(stopping.nsecsElapsed()) / 1e9;
    run.seconds = double(wall.nsecsElapsed()) / 1e9;
    run.cpuSeconds = cpuSecondsOfSelf() - cpuBefore;
    run.frames = countFrames(path);
    run.note = lastLogLine(QStringLiteral("recording finished"));
    return run;
}

Run recordFfmpeg(const QString &path, double seconds, PixelSize size, const QString &preset)
{
    Run run;
    QProcess ffmpeg;
    const QString bitRate = QString::number(videoBitRateFor(size));
    ffmpeg.start(QStringLiteral("/usr/bin/time"), {"-f",
                                                   "%U %S %e",
                                                   "ffmpeg",
                                                   "-y",
                                                   "-v",
                                                   "error",
                                                   "-f",
                                                   "x11grab",
                                                   "-framerate",
                                                   "30",
                                                   "-video_size",
                                                   QStringLiteral("%1x%2").arg(size.width).arg(size.height),
                                                   "-i",
                                                   qEnvironmentVariable("DISPLAY"),
                                                   "-t",
                                                   QString::number(seconds),
                                                   "-c:v",
                                                   "libx264",
                                                   "-preset",
                                                   preset,
                                                   "-profile:v",
                                                   "high",
                                                   "-b:v",
                                                   bitRate,
                                                   "-bf",
                                                   "0",
                                                   "-g",
                                                   "60",
                                                   "-pix_fmt",
                                                   "yuv420p",
                                                   "-colorspace",
                                                   "bt709",
                                                   "-color_primaries",
                                                   "bt709",
                                                   "-color_trc",
                                                   "bt709",
                                                   "-movflags",
                                                   "+frag_keyframe+empty_moov+default_base_moof",
                                                   path});
    ffmpeg.waitForFinished(int(seconds * 1000) + 120000);
    const QList<QByteArray> times = ffmpeg.readAllStandardError().trimmed().split('\n').last().split(' ');
    if (times.size() == 3) {
        run.cpuSeconds = times[0].toDouble() + times[1].toDouble();
        run.seconds = seconds;
    }
    run.frames = countFrames(path);
    return run;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && QByteArray(argv[1]) == "--draw")
        return draw();
    double seconds = 20, quietSeconds = 10, longSeconds = 60;
    for (int i = 1; i + 1 < argc; i += 2) {
        const QByteArray option(argv[i]);
        const double value = QByteArray(argv[i + 1]).toDouble();
        if (option == "--seconds")
            seconds = value;
        else if (option == "--quiet-seconds")
            quietSeconds = value;
        else if (option == "--long-seconds")
            longSeconds = value;
    }
    QGuiApplication app(argc, argv);
    QScreen *screen = QGuiApplication::primaryScreen();
    const QSize pixels = screen->size() * screen->devicePixelRatio();
    const PixelSize size = videoSizeFor(pixels.width(), pixels.height(), screen->devicePixelRatio());
    const QString preset = choosePresetFor(size);
    QTemporaryDir dir;
    std::printf("screen %dx%d, video %dx%d, x264 preset %s (chosen by measured speed)\n", pixels.width(),
                pixels.height(), size.width, size.height, qPrintable(preset));

    QProcess drawer;
    if (!startDrawer(drawer)) {
        std::fputs("bench_record --draw did not start\n", stderr);
        return 1;
    }
    if (seconds > 0) {
        const Run ours = recordOurs(dir.filePath("ours.mp4"), seconds);
        const Run theirs = recordFfmpeg(dir.filePath("ffmpeg.mp4"), seconds, size, preset);
        std::printf("changing screen, %.0f s:\n", seconds);
        std::printf("  frames written per second: ours %.1f, ffmpeg x11grab %.1f (goal 30)\n",
                    ours.frames / ours.seconds, theirs.frames / theirs.seconds);
        std::printf("  our writer: %s\n", qPrintable(ours.note));
        std::printf("  CPU seconds per recorded second: ours %.2f, ffmpeg %.2f, ratio %.2f (goal <= 0.8 at 1080p)\n",
                    ours.cpuSeconds / ours.seconds, theirs.cpuSeconds / theirs.seconds,
                    (ours.cpuSeconds / ours.seconds) / (theirs.cpuSeconds / theirs.seconds));
    }

    if (longSeconds > 0) {
        const Run shortRun = recordOurs(dir.filePath("short.mp4"), 2.0);
        const Run longRun = recordOurs(dir.filePath("long.mp4"), longSeconds);
        std::printf("  stop to closed file: %.0f s recording %.3f s, 2 s recording %.3f s (ratio %.2f; goal < 0.5 s)\n",
                    longSeconds, longRun.stopSeconds, shortRun.stopSeconds, longRun.stopSeconds / shortRun.stopSeconds);
    }
    drawer.kill();
    drawer.waitForFinished();

    if (quietSeconds > 0) {
        QThread::msleep(300);
        const Run quiet = recordOurs(dir.filePath("quiet.mp4"), quietSeconds);
        const Run quietTheirs = recordFfmpeg(dir.filePath("quiet-ffmpeg.mp4"), quietSeconds, size, preset);
        std::printf("quiet screen, %.0f s: CPU share of one core: ours %.3f, ffmpeg %.3f (goal ours < 0.05); frames "
                    "written ours %.0f, ffmpeg %.0f\n",
                    quietSeconds, quiet.cpuSeconds / quiet.seconds, quietTheirs.cpuSeconds / quietTheirs.seconds,
                    quiet.frames, quietTheirs.frames);
    }
    return 0;
}
