// The bubble as it lands in real MP4 files: pictures go through the
// composited writer and the encoder, and frames decoded back from the file
// are measured; last, `mivra record --camera` with the bubble window on a
// private X server.
#include "capture/CameraPicture.h"
#include "capture/CompositeWriter.h"
#include "platform/camera/SyntheticCamera.h"

#include "ChildProcess.h"
#include "FfprobeReport.h"
#include "PrivateHome.h"
#include "PrivateXServer.h"
#include "ServerProcess.h"
#include "X11TestScene.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <csignal>
#include <future>
#include <thread>

namespace {

VideoFrame solidScreen(int width, int height, uint32_t bgrx)
{
    VideoFrame frame;
    auto pixels = std::shared_ptr<uint8_t[]>(new uint8_t[std::size_t(width) * height * 4]);
    std::fill_n(reinterpret_cast<uint32_t *>(pixels.get()), std::size_t(width) * height, bgrx);
    frame.pixels = pixels;
    frame.width = width;
    frame.height = height;
    frame.strideBytes = width * 4;
    return frame;
}

// Four quadrants: blue, yellow over magenta, cyan (words 0xXXRRGGBB).
VideoFrame quadrantScreen(int width, int height)
{
    VideoFrame frame = solidScreen(width, height, 0);
    auto *words = reinterpret_cast<uint32_t *>(const_cast<uint8_t *>(frame.pixels.get()));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            words[std::size_t(y) * width + x] = y < height / 2 ? (x < width / 2 ? 0xFF0000FFu : 0xFFFFFF00u)
                                                               : (x < width / 2 ? 0xFFFF00FFu : 0xFF00FFFFu);
    return frame;
}

struct Pixel {
    int b, g, r;
};

// One decoded picture; at() reads a pixel of it.
struct DecodedFrame {
    QByteArray bytes;
    int width;
    bool ok() const { return !bytes.isEmpty(); }
    Pixel at(int x, int y) const
    {
        const auto *p = reinterpret_cast<const uint8_t *>(bytes.constData()) + (std::size_t(y) * width + x) * 4;
        return {p[0], p[1], p[2]};
    }
};

::testing::AssertionResult near(Pixel got, Pixel want, int tolerance = 12)
{
    if (std::abs(got.b - want.b) <= tolerance && std::abs(got.g - want.g) <= tolerance &&
        std::abs(got.r - want.r) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got B,G,R " << got.b << "," << got.g << "," << got.r << ", wanted "
                                         << want.b << "," << want.g << "," << want.r;
}

// Writes one camera picture and one screen picture, then finishes.
QString record(const QTemporaryDir &dir, PixelSize size, BubbleSpot spot, const VideoFrame &screen, bool camera)
{
    WriterSettings settings;
    settings.path = dir.filePath(QStringLiteral("%1-%2.mp4").arg(rawValue(spot)).arg(screen.width));
    settings.size = size;
    settings.preset = QStringLiteral("ultrafast");
    CompositeWriter writer(settings, 1.0, spot);
    if (camera)
        writer.cameraFrame(*bgrxCameraPicture(SyntheticCamera::picture(0)));
    writer.videoFrame(screen);
    std::promise<std::optional<QString>> finished;
    writer.finish(0, [&finished](std::optional<QString> error) { finished.set_value(error); });
    const std::optional<QString> error = finished.get_future().get();
    EXPECT_EQ(error, std::nullopt) << error.value_or(QString()).toStdString();
    return settings.path;
}

constexpr Pixel kGray{64, 64, 64};
constexpr Pixel kRimOverGray{160, 160, 160}; // half white over the screen
constexpr Pixel kGreen{0, 255, 0};
constexpr Pixel kRed{0, 0, 255};

TEST(BubbleVideoTest, BubbleSitsInItsCornerMirroredWithRim)
{
    QTemporaryDir dir;
    const PixelSize size{1920, 1080};
    struct Case {
        BubbleSpot spot;
        int left, top; // the square's top-left pixel, rows from the top
    };
    // bottomRight: x 1676-1895, 24-243 px above the bottom edge.
    for (const Case &c : {Case{BubbleSpot::bottomRight, 1676, 1080 - 244}, Case{BubbleSpot::bottomLeft, 24, 836},
                          Case{BubbleSpot::topLeft, 24, 24}, Case{BubbleSpot::topRight, 1676, 24}}) {
        SCOPED_TRACE(rawValue(c.spot).toStdString());
        const QString path = record(dir, size, c.spot, solidScreen(1920, 1080, 0xFF404040u), true);
        const DecodedFrame frame{decodeFrameBgrx(path, 0, size.width, size.height), size.width};
        ASSERT_TRUE(frame.ok());
        const int cx = c.left + 110;
        const int cy = c.top + 110;
        // Mirrored: the camera's right half (green) shows on the left.
        EXPECT_TRUE(near(frame.at(cx - 40, cy + 20), kGreen, 20));
        EXPECT_TRUE(near(frame.at(cx + 40, cy + 20), kRed, 20));
        // The rim, 1 px wide in full, half white over the screen; then the screen untouched.
        EXPECT_TRUE(near(frame.at(c.left + 1, cy), kRimOverGray, 24));
        EXPECT_TRUE(near(frame.at(c.left + 2, c.top + 2), kGray)); // inside the square, outside the circle
        EXPECT_TRUE(near(frame.at(c.left - 3, cy), kGray));        // left of the square
        EXPECT_TRUE(near(frame.at(c.left + 223, cy), kGray));      // right of it
        EXPECT_TRUE(near(frame.at(cx, c.top - 3 < 0 ? 0 : c.top - 3), kGray));
    }
}

TEST(BubbleVideoTest, LargerScreenIsScaledNotCropped)
{
    QTemporaryDir dir;
    const PixelSize size{1280, 720};
    struct Case {
        int screenWidth, screenHeight;
    };
    for (const Case &c : {Case{3840, 2160}, Case{1280, 720}, Case{1000, 800}}) {
        SCOPED_TRACE(c.screenWidth);
        const QString path =
            record(dir, size, BubbleSpot::bottomRight, quadrantScreen(c.screenWidth, c.screenHeight), false);
        const DecodedFrame frame{decodeFrameBgrx(path, 0, size.width, size.height), size.width};
        ASSERT_TRUE(frame.ok());
        EXPECT_TRUE(near(frame.at(20, 20), Pixel{255, 0, 0}));
        EXPECT_TRUE(near(frame.at(1260, 20), Pixel{0, 255, 255}));
        EXPECT_TRUE(near(frame.at(20, 700), Pixel{255, 0, 255}));
        EXPECT_TRUE(near(frame.at(1260, 700), Pixel{255, 255, 0}));
        EXPECT_TRUE(near(frame.at(600, 340), Pixel{255, 0, 0}));
        EXPECT_TRUE(near(frame.at(680, 380), Pixel{255, 255, 0}));
    }
}

} // namespace

namespace {

// A composited recording whose process is killed keeps all but its last
// fragment, and that plays.
TEST(BubbleVideoTest, KilledRecordingStillPlays)
{
    QTemporaryDir dir;
    WriterSettings settings;
    settings.path = dir.filePath(QStringLiteral("killed.mp4"));
    settings.size = PixelSize{640, 360};
    settings.preset = QStringLiteral("ultrafast");
    const int status = runInChild([&settings] {
        const CompositeSettings composite{settings.size, 1.0, BubbleSpot::topRight, false};
        std::atomic<int64_t> now{0};
        CompositeWriter writer(composite, makeMp4CompositeOutput(settings, composite), [&now] { return now.load(); });
        writer.cameraFrame(*bgrxCameraPicture(SyntheticCamera::picture(0)));
        for (int i = 0; i < 90; ++i) {
            now = i * 33'334;
            writer.videoFrame(solidScreen(640, 360, 0xFF000000u | uint32_t(i * 2)));
            while (writer.framesWritten() < i + 1)
                std::this_thread::yield();
        }
        std::raise(SIGKILL);
        return 0;
    });
    EXPECT_EQ(status, -1) << "the child was to die";
    EXPECT_GT(decodableVideoSeconds(settings.path), 1.9);
}

} // namespace

namespace {

// The bubble window stays out of a video that draws the bubble in a corner:
// where the window sits, the desktop beneath it shows. Recorded as it is on
// screen, the window shows and no corner is drawn. Frames come back from
// the service the recording went to.
TEST(BubbleVideoTest, BubbleWindowIsInTheVideoOnlyWhenRecordedAsOnScreen)
{
    if (!QFile::exists(appBinary()) || !ServerProcess::built())
        GTEST_SKIP() << "the app or mivra-server is not built in this tree";
    PrivateXServer server(QSize(1920, 1080));
    ASSERT_TRUE(server.ok());
    X11TestScene desktop;
    desktop.addWindow(QRect(0, 0, 1920, 1080), 0x4060a0);
    desktop.movePointer(1900, 540);
    constexpr Pixel kDesktop{160, 96, 64};
    PrivateHome home;
    ServerProcess service(home.path(QStringLiteral("server")).toStdString(), {"--quiet"});
    ASSERT_TRUE(service.started());
    const QString origin = QString::fromStdString(service.origin());
    home.env.insert(QStringLiteral("MIVRA_SERVICE_ORIGIN"), origin);
    home.env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(server.display()));
    home.env.insert(QStringLiteral("MIVRA_CAMERA"), QStringLiteral("test"));

    struct Case {
        const char *spot;
        bool windowShows;
    };
    for (const Case &c : {Case{"bottomRight", false}, Case{"asOnScreen", true}}) {
        SCOPED_TRACE(c.spot);
        const ChildRun run =
            runApp({QStringLiteral("record"), QStringLiteral("--camera"), QStringLiteral("--bubble-spot"),
                    QString::fromLatin1(c.spot), QStringLiteral("--seconds"), QStringLiteral("2"),
                    QStringLiteral("--no-mic"), QStringLiteral("--silent")},
                   home.env, 90000);
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        const QString media = origin + QStringLiteral("/r/") + run.out.trimmed().section(QLatin1Char('/'), -1);
        const DecodedFrame frame{decodeFrameBgrx(media, 1.0, 1920, 1080), 1920};
        ASSERT_TRUE(frame.ok()) << media.toStdString();
        // The window: centred, 8 px below the top (850-1069, 8-227), mirrored
        // like the corner's bubble at 1676-1895, 836-1055.
        const Pixel left = c.windowShows ? kGreen : kDesktop;
        const Pixel right = c.windowShows ? kRed : kDesktop;
        EXPECT_TRUE(near(frame.at(920, 138), left, 40));
        EXPECT_TRUE(near(frame.at(1000, 138), right, 40));
        EXPECT_TRUE(near(frame.at(1746, 966), c.windowShows ? kDesktop : kGreen, 40));
        EXPECT_TRUE(near(frame.at(1826, 966), c.windowShows ? kDesktop : kRed, 40));
        EXPECT_TRUE(near(frame.at(400, 600), kDesktop));
    }
}

} // namespace
