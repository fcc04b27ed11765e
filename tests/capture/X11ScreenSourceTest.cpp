#include "Await.h"
#include "FrameCollector.h"
#include "PrivateXServer.h"
#include "X11TestScene.h"
#include "capture/Recorder.h"
#include "platform/capture/LinuxCapturePlatform.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

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
    std::unique_ptr<ScreenSource> startSource(FrameCollector &collected)
    {
        auto source = platform.openScreen(displays.first());
        collected.start(*source);
        return source;
    }

    PrivateXServer server{QSize(1600, 1000)};
    LinuxCapturePlatform platform;
    QList<DisplayInfo> displays;
    std::unique_ptr<X11TestScene> scene;
};

TEST_F(X11ScreenSourceTest, ListsTheMonitorCoveringTheScreenAndRefusesOneBeyondIt)
{
    DisplayInfo first = displays.first();
    EXPECT_NE(first.id, 0u);
    EXPECT_EQ(first.pixelRect, QRect(QPoint(0, 0), scene->screenSize()));
    EXPECT_DOUBLE_EQ(first.widthPoints, first.pixelRect.width()); // no desktop scale set
    first.pixelRect = QRect(first.pixelRect.right() + 1, 0, 800, 600);
    EXPECT_EQ(failureText([&] { platform.openScreen(first); }),
              QStringLiteral("The display to record is no longer on the X screen."));
}

TEST_F(X11ScreenSourceTest, SeesWhatIsDrawnAndNothingWhenTheScreenIsQuiet)
{
    const uint32_t window = scene->addWindow(QRect(100, 100, 300, 200), 0xc03020);
    scene->movePointer(1500, 900);
    FrameCollector collected;
    auto source = startSource(collected);
    ASSERT_TRUE(collected.waitForPicture([](const VideoFrame &f) { return pixelAt(f, 150, 150) == 0xc03020u; }));
    EXPECT_EQ(collected.last().width, scene->screenSize().width());

    // Once the first pictures are in, a still screen gives none (Damage
    // reports nothing).
    for (int i = 0; i < 20 && collected.waitBeyond(collected.count(), 150); ++i) {
    }
    EXPECT_FALSE(collected.waitBeyond(collected.count(), 400));

    scene->fill(window, QRect(0, 0, 300, 200), 0x20a040);
    EXPECT_TRUE(collected.waitForPicture([](const VideoFrame &f) { return pixelAt(f, 150, 150) == 0x20a040u; }));
    source->stop();
    EXPECT_TRUE(collected.failures().isEmpty()) << collected.failures().join(' ').toStdString();
}

TEST_F(X11ScreenSourceTest, DrawsTheCursorIntoThePictureAndFollowsIt)
{
    scene->addWindow(QRect(500, 500, 400, 400), 0x808080);
    scene->movePointer(600, 600);
    FrameCollector collected;
    auto source = startSource(collected);
    auto cursorAt = [](const VideoFrame &frame, QPoint at) {
        int differing = 0;
        for (int y = at.y() - 12; y < at.y() + 12; ++y)
            for (int x = at.x() - 12; x < at.x() + 12; ++x)
                differing += pixelAt(frame, x, y) != 0x808080u;
        return differing > 10;
    };
    ASSERT_TRUE(collected.waitForPicture([&](const VideoFrame &f) { return cursorAt(f, QPoint(600, 600)); }));

    // Moving only the pointer is a change worth a picture.
    scene->movePointer(800, 800);
    EXPECT_TRUE(collected.waitForPicture(
        [&](const VideoFrame &f) { return cursorAt(f, QPoint(800, 800)) && !cursorAt(f, QPoint(600, 600)); }));
    source->stop();
}

TEST_F(X11ScreenSourceTest, StampsPicturesWithTheMonotonicClockAtMostThirtyASecond)
{
    const uint32_t window = scene->addWindow(QRect(0, 0, 64, 64), 0x000000);
    FrameCollector collected;
    const int64_t startUs = monotonicNowUs();
    auto source = startSource(collected);
    // Each change as soon as the last one was seen: as fast as the source goes.
    for (int i = 0; i < 10; ++i) {
        const std::size_t seen = collected.count();
        scene->fill(window, QRect(0, 0, 64, 64), uint32_t(i * 20 + 20) << 8);
        collected.waitBeyond(seen, 2000);
    }
    source->stop();
    const int64_t endUs = monotonicNowUs();
    const std::vector<VideoFrame> frames = collected.frames();
    ASSERT_GE(frames.size(), 5u);
    int64_t previous = startUs;
    std::vector<int64_t> gaps;
    for (const VideoFrame &frame : frames) {
        EXPECT_GT(frame.timestampUs, previous);
        EXPECT_LE(frame.timestampUs, endUs);
        if (&frame != &frames.front())
            gaps.push_back(frame.timestampUs - previous);
        previous = frame.timestampUs;
    }
    // Grabs start on a 1/30 s schedule; a stamp is taken when its grab
    // completes, so a slow grab shortens the gap after it: the median holds.
    std::nth_element(gaps.begin(), gaps.begin() + gaps.size() / 2, gaps.end());
    EXPECT_GE(gaps[gaps.size() / 2], 30000);
}

TEST(X11Platform, SaysSoWhenThereIsNoXDisplay)
{
    const QByteArray saved = qgetenv("DISPLAY");
    qputenv("DISPLAY", ":1999"); // no server there
    LinuxCapturePlatform platform;
    EXPECT_EQ(failureText([&] { platform.displays(); }),
              QStringLiteral("No X display can be reached, so the screen cannot be recorded."));
    qputenv("DISPLAY", saved);
}

} // namespace
