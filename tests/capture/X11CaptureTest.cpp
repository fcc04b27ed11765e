// X11 capture on a private Xvfb: the monitor listed, what the pictures show
// and when they come, and our own windows left out of them (what lies
// beneath shows instead).
#include "Await.h"
#include "ChangingScreen.h"
#include "FrameCollector.h"
#include "PrivateXServer.h"
#include "X11TestScene.h"
#include "capture/Recorder.h"
#include "platform/LeftOutWindows.h"
#include "platform/capture/LinuxCapturePlatform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <tuple>

namespace {

constexpr uint32_t kWallpaper = 0x305070;
constexpr uint32_t kBeneath = 0xc03020;
constexpr uint32_t kOurs = 0x2040e0;
constexpr uint32_t kAbove = 0x20a040;

class X11Capture : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!server.ok())
            GTEST_SKIP() << "No Xvfb to record.";
        ASSERT_TRUE(wallpaper.ok()) << "cannot connect to " << server.display().constData();
    }
    void TearDown() override { LeftOutWindows::instance().remove(ours); }
    // A fresh scene over a wallpaper (windows stacked in the order made)
    // with our window in it, and a source delivering it into `collected`.
    std::unique_ptr<ScreenSource> leftOutScene(FrameCollector &collected, bool beneath, bool leftOut, bool above)
    {
        wallpaper.setWallpaper(kWallpaper);
        LeftOutWindows::instance().remove(ours);
        scene = std::make_unique<X11TestScene>();
        if (beneath)
            beneathWindow = scene->addWindow(QRect(100, 100, 300, 200), kBeneath);
        ours = scene->addWindow(QRect(250, 150, 220, 220), kOurs);
        if (above)
            scene->addWindow(QRect(300, 300, 60, 60), kAbove);
        if (leftOut)
            LeftOutWindows::instance().add(ours);
        scene->movePointer(1500, 900);
        auto source = platform.openScreen(platform.displays().first());
        collected.start(*source);
        return source;
    }

    PrivateXServer server{QSize(1600, 1000)};
    LinuxCapturePlatform platform;
    X11TestScene wallpaper;
    std::unique_ptr<X11TestScene> scene;
    uint32_t ours = 0;
    uint32_t beneathWindow = 0;
};

TEST_F(X11Capture, ListsTheMonitorCoveringTheScreenAndRefusesOneBeyondItOrWithoutADisplay)
{
    const QList<DisplayInfo> displays = platform.displays();
    ASSERT_FALSE(displays.isEmpty());
    DisplayInfo first = displays.first();
    // No desktop scale set: a point is a pixel.
    EXPECT_EQ(std::tuple(first.id != 0, first.pixelRect, first.widthPoints, first.heightPoints),
              std::tuple(true, QRect(0, 0, 1600, 1000), 1600.0, 1000.0));
    first.pixelRect.moveLeft(1600);
    EXPECT_EQ(failureText([&] { platform.openScreen(first); }),
              QStringLiteral("The display to record is no longer on the X screen."));
    qputenv("DISPLAY", ":1999"); // no server there; the private server's end restores it
    EXPECT_EQ(failureText([] { LinuxCapturePlatform().displays(); }),
              QStringLiteral("No X display can be reached, so the screen cannot be recorded."));
}

// Our window left out over another: drawing in ours is no change, the one
// beneath changing where ours covers it is.
TEST_F(X11Capture, SeesWhatIsDrawnAndThePointerAndNothingWhenTheScreenIsQuietOrOnlyOursChanges)
{
    FrameCollector collected;
    auto source = leftOutScene(collected, true, true, false);
    scene->addWindow(QRect(500, 500, 400, 400), 0x808080);
    scene->movePointer(600, 600);
    const auto cursorAt = [](const VideoFrame &frame, QPoint at) {
        int differing = 0;
        for (int y = at.y() - 12; y < at.y() + 12; ++y)
            for (int x = at.x() - 12; x < at.x() + 12; ++x)
                differing += pixelAt(frame, x, y) != 0x808080u;
        return differing > 10;
    };
    ASSERT_TRUE(collected.waitForPicture(
        [&](const VideoFrame &f) { return pixelAt(f, 300, 200) == kBeneath && cursorAt(f, QPoint(600, 600)); }));
    EXPECT_EQ(collected.last().width, 1600);

    // Once the first pictures are in, a still screen gives none (Damage
    // reports nothing).
    ASSERT_TRUE(collected.waitForQuiet());
    for (uint32_t shade = 0; shade < 4; ++shade) {
        scene->fill(ours, QRect(0, 0, 220, 220), 0x101010 * (shade + 1));
        EXPECT_FALSE(collected.waitBeyond(collected.count(), 100)) << shade;
    }
    scene->fill(beneathWindow, QRect(150, 50, 150, 150), 0x808000);
    EXPECT_TRUE(collected.waitForPicture([](const VideoFrame &f) { return pixelAt(f, 270, 170) == 0x808000u; }));
    // Moving only the pointer is a change worth a picture.
    scene->movePointer(800, 800);
    EXPECT_TRUE(collected.waitForPicture(
        [&](const VideoFrame &f) { return cursorAt(f, QPoint(800, 800)) && !cursorAt(f, QPoint(600, 600)); }));
    source->stop();
    EXPECT_TRUE(collected.failures().isEmpty()) << collected.failures().join(' ').toStdString();
}

TEST(X11Stamps, PicturesCarryTheMonotonicClockAndComeAtMostThirtyASecond)
{
    // A small screen: grabs take little time, so the schedule alone sets the pace.
    PrivateXServer server{QSize(320, 240)};
    if (!server.ok())
        GTEST_SKIP() << "No Xvfb to record.";
    LinuxCapturePlatform platform;
    FrameCollector collected;
    const int64_t startUs = monotonicNowUs();
    auto source = platform.openScreen(platform.displays().first());
    collected.start(*source);
    {
        const ChangingScreen changing(QRect(0, 0, 64, 64)); // about 60 changes a second
        EXPECT_TRUE(collected.waitBeyond(15, 20000));
    }
    source->stop();
    const int64_t endUs = monotonicNowUs();
    const std::vector<VideoFrame> frames = collected.frames();
    ASSERT_GE(frames.size(), 5u);
    EXPECT_GT(frames.front().timestampUs, startUs);
    EXPECT_LE(frames.back().timestampUs, endUs);
    std::vector<int64_t> gaps;
    for (std::size_t i = 1; i < frames.size(); ++i)
        gaps.push_back(frames[i].timestampUs - frames[i - 1].timestampUs);
    std::sort(gaps.begin(), gaps.end());
    EXPECT_GT(gaps.front(), 0) << "each later than the one before";
    // Grabs start on a 1/30 s schedule; a stamp is taken when its grab
    // completes, so a slow grab shortens the gap after it: the median holds.
    EXPECT_GE(gaps[gaps.size() / 2], 30000);
}

TEST_F(X11Capture, PicturesShowWhatLiesBeneathOurLeftOutWindows)
{
    // Ours spans 250-469 x 150-369, the one beneath 100-399 x 100-299, the
    // one above 300-359 x 300-359.
    const QPoint spots[] = {{300, 200}, {398, 290}, {401, 200}, {450, 360}, {150, 150}, {600, 600}, {330, 330}};
    const auto seen = [&spots](const VideoFrame &frame) {
        const std::map<uint32_t, std::string> names{
            {kWallpaper, "wallpaper"}, {kBeneath, "beneath"}, {kOurs, "ours"}, {kAbove, "above"}};
        std::string text;
        for (const QPoint at : spots) {
            const auto name = names.find(pixelAt(frame, at.x(), at.y()));
            text += (text.empty() ? "" : " ") + (name == names.end() ? "other" : name->second);
        }
        return text;
    };
    const struct {
        const char *name;
        bool beneath, leftOut, above;
        std::string seen;
    } cases[] = {
        {"left out over a window", true, true, false,
         "beneath beneath wallpaper wallpaper beneath wallpaper wallpaper"},
        {"not left out", true, false, false, "ours ours ours ours beneath wallpaper ours"},
        {"nothing beneath", false, true, false,
         "wallpaper wallpaper wallpaper wallpaper wallpaper wallpaper wallpaper"},
        {"a window above ours stays", true, true, true, "beneath beneath wallpaper wallpaper beneath wallpaper above"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        FrameCollector collected;
        auto source = leftOutScene(collected, c.beneath, c.leftOut, c.above);
        std::string last = "no picture";
        EXPECT_TRUE(collected.waitForPicture([&](const VideoFrame &f) { return (last = seen(f)) == c.seen; })) << last;
        source->stop();
    }
}

} // namespace
