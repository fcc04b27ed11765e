// The camera bubble's cost. First, per picture: drawing the bubble and
// converting to I420 beside the conversion alone, at 2560x1600 and 1920x1080,
// and one camera picture's way to the bubble beside copying it. Then, on the
// X display in DISPLAY (2560x1600 for the goal): leaving the bubble and bar
// windows out of a picture beside the plain grab, and a recording of a screen
// that changes 30 times a second with the 30 fps synthetic camera, beside a
// recording without the bubble (the direct path), in the same run.
//
//   DISPLAY=:N bench_composite [--seconds N] [--rounds N]   (0 seconds: no recording)
#include "BenchSupport.h"
#include "capture/BubbleCompositor.h"
#include "capture/CameraPicture.h"
#include "capture/EncoderPreset.h"
#include "capture/ScreenRecorder.h"
#include "platform/LeftOutWindows.h"
#include "platform/camera/SyntheticCamera.h"
#include "platform/capture/LinuxCapturePlatform.h"
#include "platform/capture/X11LeftOutPainter.h"

#include <xcb/composite.h>
#include <xcb/shm.h>

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QVideoFrame>

#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

namespace {

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

// One camera picture's way from the camera to the bubble's square (read as
// B,G,R,X, then mirrored, scaled and cropped once), beside copying the
// picture once, per 1280x720 picture.
void benchCameraPath()
{
    const QVideoFrame picture = SyntheticCamera::picture(0);
    BubbleCompositor bubble(PixelSize{1920, 1080}, BubbleSpot::bottomRight, BubbleGeometry::forPointScale(1.0));
    std::vector<uint8_t> copy(std::size_t(SyntheticCamera::kWidth) * SyntheticCamera::kHeight * 4);
    std::vector<double> copying, path;
    for (int round = 0; round < 9; ++round) {
        qint64 copyNs = 0, pathNs = 0;
        for (int i = 0; i < 20; ++i) {
            QElapsedTimer timer;
            timer.start();
            QVideoFrame mapped = picture;
            mapped.map(QVideoFrame::ReadOnly);
            std::memcpy(copy.data(), mapped.bits(0), std::min<std::size_t>(copy.size(), mapped.mappedBytes(0)));
            mapped.unmap();
            copyNs += timer.nsecsElapsed();
            timer.restart();
            if (std::optional<VideoFrame> bgrx = bgrxCameraPicture(picture))
                bubble.setCamera(*bgrx);
            pathNs += timer.nsecsElapsed();
        }
        copying.push_back(double(copyNs) / 1e6 / 20);
        path.push_back(double(pathNs) / 1e6 / 20);
    }
    std::printf("camera picture 1280x720: %.3f ms to the bubble's square, copying it once %.3f ms (x%.1f)\n",
                median(path), median(copying), median(path) / median(copying));
}

// The cost of leaving our windows out of X11 pictures, on the X display in
// DISPLAY: grabbing the screen as the capture does, without and with a
// 220x220 bubble and a 300x124 bar left out over a few ordinary windows;
// then what the automatic redirection this needs costs another program
// drawing its full-screen window.
class LeftOutBench {
public:
    bool open()
    {
        int number = 0;
        m_connection = connectToX(&number);
        if (!m_connection)
            return false;
        xcb_connection_t *c = m_connection.get();
        m_screen = screenOf(c, number);
        m_size = QSize(m_screen->width_in_pixels, m_screen->height_in_pixels);
        m_gc = xcb_generate_id(c);
        xcb_create_gc(c, m_gc, m_screen->root, 0, nullptr);
        m_desktop = window(QRect(QPoint(0, 0), m_size), 0x305070);
        const int middle = m_size.width() / 2;
        for (int i = 0; i < 6; ++i)
            window(QRect(middle - 600 + i * 150, i * 60, 700, 500), 0x203040u * uint32_t(i + 1));
        m_bubble = window(QRect(middle - 110, 8, 220, 220), 0x20a040);
        m_bar = window(QRect(middle - 150, 238, 300, 124), 0xe0e0e0);
        return attachSegment();
    }
    ~LeftOutBench()
    {
        if (m_address)
            shmdt(m_address);
    }

    void run()
    {
        measureLeftOut();
        measureRedirection();
    }

private:
    void measureLeftOut()
    {
        X11LeftOutPainter painter(m_connection.get(), m_screen, QRect(QPoint(0, 0), m_size));
        if (!painter.available()) {
            std::puts("left out windows: the X server lacks Composite or Render");
            return;
        }
        std::vector<uint8_t> picture(std::size_t(m_size.width()) * m_size.height() * 4);
        LeftOutWindows::instance().add(m_bubble);
        LeftOutWindows::instance().add(m_bar);
        grab(painter, picture, true); // redirects
        // The plain grab and the one leaving our windows out alternate, so
        // both see the same load on the machine.
        std::vector<double> plain, leftOut;
        for (int round = 0; round < 9; ++round) {
            qint64 plainNs = 0, leftOutNs = 0;
            for (int i = 0; i < 20; ++i) {
                QElapsedTimer timer;
                timer.start();
                grab(painter, picture, false);
                plainNs += timer.nsecsElapsed();
                timer.restart();
                grab(painter, picture, true);
                leftOutNs += timer.nsecsElapsed();
            }
            plain.push_back(double(plainNs) / 1e6 / 20);
            leftOut.push_back(double(leftOutNs) / 1e6 / 20);
        }
        const double a = median(plain), b = median(leftOut);
        std::printf("%dx%d picture: grab %.2f ms, leaving the bubble and the bar out %.2f ms (x%.2f): %.3f ms more "
                    "(goal < 1 ms)\n",
                    m_size.width(), m_size.height(), a, b, b / a, b - a);
        std::printf("changed pixels: bubble centre 0x%06x (desktop 0x305070 or a window beneath, never 0x20a040)\n",
                    pixelAt(picture, m_size.width() / 2, 118));
        LeftOutWindows::instance().remove(m_bubble);
        LeftOutWindows::instance().remove(m_bar);
    }

    // Another program drawing a full-screen window of 40-pixel blocks.
    void measureRedirection()
    {
        xcb_connection_t *c = m_connection.get();
        const xcb_window_t app = window(QRect(QPoint(0, 0), m_size), 0);
        std::vector<double> direct, redirected;
        for (int round = 0; round < 6; ++round) {
            const bool on = round % 2 == 1;
            if (on)
                xcb_composite_redirect_subwindows(c, m_screen->root, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
            draw(app, 0);
            QElapsedTimer timer;
            timer.start();
            for (uint32_t frame = 1; frame <= 10; ++frame)
                draw(app, frame);
            (on ? redirected : direct).push_back(double(timer.nsecsElapsed()) / 1e6 / 10);
            if (on)
                xcb_composite_unredirect_subwindows(c, m_screen->root, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
        }
        std::printf("another program drawing its full-screen window: %.2f ms a frame, redirected %.2f ms (x%.2f)\n",
                    median(direct), median(redirected), median(redirected) / median(direct));
    }

    xcb_window_t window(const QRect &rect, uint32_t rgb)
    {
        xcb_connection_t *c = m_connection.get();
        const xcb_window_t id = xcb_generate_id(c);
        const uint32_t values[] = {rgb, 1};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, id, m_screen->root, int16_t(rect.x()), int16_t(rect.y()),
                          uint16_t(rect.width()), uint16_t(rect.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          m_screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
        xcb_map_window(c, id);
        sync();
        return id;
    }
    void draw(xcb_window_t window, uint32_t frame)
    {
        xcb_connection_t *c = m_connection.get();
        for (int y = 0; y < m_size.height(); y += 40) {
            for (int x = 0; x < m_size.width(); x += 40) {
                const uint32_t colour = (uint32_t(x * 7 + y * 3) + frame * 0x050301u) * 2654435761u >> 8;
                xcb_change_gc(c, m_gc, XCB_GC_FOREGROUND, &colour);
                const xcb_rectangle_t r{int16_t(x), int16_t(y), 40, 40};
                xcb_poly_fill_rectangle(c, window, m_gc, 1, &r);
            }
        }
        sync();
    }
    void sync()
    {
        xcb_connection_t *c = m_connection.get();
        XcbReply<xcb_get_input_focus_reply_t> reply(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    }
    bool attachSegment()
    {
        xcb_connection_t *c = m_connection.get();
        const int id = shmget(IPC_PRIVATE, std::size_t(m_size.width()) * m_size.height() * 4, IPC_CREAT | 0600);
        if (id < 0)
            return false;
        void *address = shmat(id, nullptr, 0);
        m_segment = xcb_generate_id(c);
        XcbReply<xcb_generic_error_t> error(
            xcb_request_check(c, xcb_shm_attach_checked(c, m_segment, uint32_t(id), 0)));
        shmctl(id, IPC_RMID, nullptr);
        m_address = address == reinterpret_cast<void *>(-1) ? nullptr : static_cast<uint8_t *>(address);
        return m_address && !error;
    }
    // What the capture does for one picture, leaving our windows out or not.
    void grab(X11LeftOutPainter &painter, std::vector<uint8_t> &picture, bool leaveOut)
    {
        xcb_connection_t *c = m_connection.get();
        while (xcb_generic_event_t *event = xcb_poll_for_event(c)) {
            painter.noteEvent(*event);
            std::free(event);
        }
        if (leaveOut && !painter.refresh().isEmpty())
            painter.prepare();
        XcbReply<xcb_shm_get_image_reply_t> reply(xcb_shm_get_image_reply(
            c,
            xcb_shm_get_image(c, m_screen->root, 0, 0, uint16_t(m_size.width()), uint16_t(m_size.height()), ~0u,
                              XCB_IMAGE_FORMAT_Z_PIXMAP, m_segment, 0),
            nullptr));
        std::memcpy(picture.data(), m_address, picture.size());
        if (leaveOut)
            painter.paint(picture.data(), m_size.width() * 4);
    }
    uint32_t pixelAt(const std::vector<uint8_t> &picture, int x, int y) const
    {
        const uint8_t *p = picture.data() + (std::size_t(y) * m_size.width() + x) * 4;
        return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
    }

    XcbConnection m_connection;
    xcb_screen_t *m_screen = nullptr;
    QSize m_size;
    uint32_t m_gc = 0;
    xcb_window_t m_desktop = 0, m_bubble = 0, m_bar = 0;
    uint32_t m_segment = 0;
    uint8_t *m_address = nullptr;
};

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
    benchCameraPath();
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return 0;
    {
        LeftOutBench leftOut;
        if (leftOut.open())
            leftOut.run();
        else
            std::puts("left out windows: no X display with shared memory to grab");
    }
    if (seconds <= 0)
        return 0;

    QGuiApplication app(argc, argv);
    QTemporaryDir dir;
    // bench_record's drawing child changes every part of the screen 30 times a second.
    QProcess drawer;
    if (!startDrawer(drawer)) {
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
