#include "PrivateXServer.h"
#include "X11TestScene.h"
#include "capture/Recorder.h"
#include "platform/capture/LinuxCapturePlatform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

namespace {

// Collects what a source delivers on its thread.
struct Collected {
    std::mutex mutex;
    std::vector<VideoFrame> frames;
    QString failure;

    std::size_t count()
    {
        std::lock_guard lock(mutex);
        return frames.size();
    }
    VideoFrame last()
    {
        std::lock_guard lock(mutex);
        return frames.back();
    }
    // Waits up to timeoutMs for more than `seen` frames.
    bool waitBeyond(std::size_t seen, int timeoutMs)
    {
        for (int waited = 0; waited < timeoutMs; waited += 5) {
            if (count() > seen)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }
};

uint32_t pixelAt(const VideoFrame &frame, int x, int y)
{
    const uint8_t *p = frame.pixels.get() + std::ptrdiff_t(y) * frame.strideBytes + x * 4;
    return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]; // 0xRRGGBB, the X byte ignored
}

class X11ScreenSourceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!server.ok())
            GTEST_SKIP() << "No Xvfb to record.";
        scene = std::make_unique<X11TestScene>();
        ASSERT_TRUE(scene->ok()) << "cannot connect to " << server.display().constData();
        displays = platform.displays();
        ASSERT_FALSE(displays.isEmpty());
    }
    std::unique_ptr<ScreenSource> startSource(Collected &collected)
    {
        auto source = platform.openScreen(displays.first());
        source->start(
            [&collected](VideoFrame frame) {
                std::lock_guard lock(collected.mutex);
                collected.frames.push_back(std::move(frame));
            },
            [&collected](const QString &text) {
                std::lock_guard lock(collected.mutex);
                collected.failure = text;
            });
        return source;
    }

    PrivateXServer server{QSize(1600, 1000)};
    LinuxCapturePlatform platform;
    QList<DisplayInfo> displays;
    std::unique_ptr<X11TestScene> scene;
};

TEST_F(X11ScreenSourceTest, ListsTheMonitorCoveringTheScreen)
{
    const DisplayInfo &first = displays.first();
    EXPECT_NE(first.id, 0u);
    EXPECT_EQ(first.pixelRect.topLeft(), QPoint(0, 0));
    EXPECT_EQ(first.pixelRect.size(), scene->screenSize());
    EXPECT_DOUBLE_EQ(first.widthPoints, first.pixelRect.width()); // no desktop scale set
}

TEST_F(X11ScreenSourceTest, SeesWhatIsDrawnAndNothingWhenTheScreenIsQuiet)
{
    const uint32_t window = scene->addWindow(QRect(100, 100, 300, 200), 0xc03020);
    scene->movePointer(1500, 900);
    Collected collected;
    auto source = startSource(collected);
    ASSERT_TRUE(collected.waitBeyond(0, 2000));
    EXPECT_EQ(pixelAt(collected.last(), 150, 150), 0xc03020u);
    EXPECT_EQ(collected.last().width, scene->screenSize().width());

    // Half a second without change: no new picture (Damage reports nothing).
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    const std::size_t settled = collected.count();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(collected.count(), settled);

    scene->fill(window, QRect(0, 0, 300, 200), 0x20a040);
    ASSERT_TRUE(collected.waitBeyond(settled, 1000));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(pixelAt(collected.last(), 150, 150), 0x20a040u);
    source->stop();
    EXPECT_TRUE(collected.failure.isEmpty()) << collected.failure.toStdString();
}

TEST_F(X11ScreenSourceTest, DrawsTheCursorIntoThePictureAndFollowsIt)
{
    scene->addWindow(QRect(500, 500, 400, 400), 0x808080);
    scene->movePointer(600, 600);
    Collected collected;
    auto source = startSource(collected);
    ASSERT_TRUE(collected.waitBeyond(0, 2000));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    auto cursorPixels = [](const VideoFrame &frame, QPoint at) {
        int differing = 0;
        for (int y = at.y() - 12; y < at.y() + 12; ++y)
            for (int x = at.x() - 12; x < at.x() + 12; ++x)
                differing += pixelAt(frame, x, y) != 0x808080u;
        return differing;
    };
    EXPECT_GT(cursorPixels(collected.last(), QPoint(600, 600)), 10);

    // Moving only the pointer is a change worth a picture.
    const std::size_t before = collected.count();
    scene->movePointer(800, 800);
    ASSERT_TRUE(collected.waitBeyond(before, 1000));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(cursorPixels(collected.last(), QPoint(600, 600)), 0);
    EXPECT_GT(cursorPixels(collected.last(), QPoint(800, 800)), 10);
    source->stop();
}

TEST_F(X11ScreenSourceTest, StampsPicturesWithTheMonotonicClockAsTheyArrive)
{
    const uint32_t window = scene->addWindow(QRect(0, 0, 64, 64), 0x000000);
    Collected collected;
    const int64_t startUs = monotonicNowUs();
    auto source = startSource(collected);
    for (int i = 0; i < 10; ++i) {
        scene->fill(window, QRect(0, 0, 64, 64), uint32_t(i * 20) << 8);
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    source->stop();
    const int64_t endUs = monotonicNowUs();
    ASSERT_GE(collected.frames.size(), 5u);
    int64_t previous = startUs;
    for (const VideoFrame &frame : collected.frames) {
        EXPECT_GT(frame.timestampUs, previous);
        EXPECT_LE(frame.timestampUs, endUs);
        previous = frame.timestampUs;
    }
    // At most 30 a second: grabs start on a 1/30 s schedule (a stamp is
    // taken when its grab completes, so single gaps vary a little).
    const auto &frames = collected.frames;
    const double spacingUs = double(frames.back().timestampUs - frames.front().timestampUs) / double(frames.size() - 1);
    EXPECT_GE(spacingUs, 30000.0);
}

TEST_F(X11ScreenSourceTest, RefusesAMonitorThatIsNotOnTheScreen)
{
    DisplayInfo gone = displays.first();
    gone.pixelRect = QRect(gone.pixelRect.right() + 1, 0, 800, 600);
    try {
        platform.openScreen(gone);
        FAIL() << "no error";
    } catch (const RecorderError &error) {
        EXPECT_EQ(error.description().toStdString(), "The display to record is no longer on the X screen.");
    }
}

TEST(X11Platform, SaysSoWhenThereIsNoXDisplay)
{
    const QByteArray saved = qgetenv("DISPLAY");
    qputenv("DISPLAY", ":1999"); // no server there
    LinuxCapturePlatform platform;
    try {
        platform.displays();
        ADD_FAILURE() << "no error";
    } catch (const RecorderError &error) {
        EXPECT_EQ(error.description().toStdString(), "No X display can be reached, so the screen cannot be recorded.");
    }
    qputenv("DISPLAY", saved);
}

} // namespace
