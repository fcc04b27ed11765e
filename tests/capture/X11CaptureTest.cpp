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

namespace {

constexpr uint32_t kWallpaper = 0x305070;
constexpr uint32_t kBeneath = 0xc03020;
constexpr uint32_t kOurs = 0x2040e0;
constexpr uint32_t kAbove = 0x20a040;
const QRect kBeneathRect(100, 100, 300, 200);
const QRect kOursRect(250, 150, 220, 220);

// Publishes a wallpaper the way wallpaper setters do (_XROOTPMAP_ID) and
// shows it on the root; it lives as long as this connection.
class Wallpaper {
public:
    explicit Wallpaper(uint32_t rgb)
    {
        int number = 0;
        m_connection = connectToX(&number);
        xcb_connection_t *c = m_connection.get();
        xcb_screen_t *screen = screenOf(c, number);
        const xcb_pixmap_t pixmap = xcb_generate_id(c);
        xcb_create_pixmap(c, screen->root_depth, pixmap, screen->root, 64, 64);
        const xcb_gcontext_t gc = xcb_generate_id(c);
        xcb_create_gc(c, gc, pixmap, XCB_GC_FOREGROUND, &rgb);
        const xcb_rectangle_t all{0, 0, 64, 64};
        xcb_poly_fill_rectangle(c, pixmap, gc, 1, &all);
        xcb_change_window_attributes(c, screen->root, XCB_CW_BACK_PIXMAP, &pixmap);
        xcb_clear_area(c, 0, screen->root, 0, 0, 0, 0);
        const char name[] = "_XROOTPMAP_ID";
        XcbReply<xcb_intern_atom_reply_t> atom(
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof name - 1, name), nullptr));
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, screen->root, atom->atom, XCB_ATOM_PIXMAP, 32, 1, &pixmap);
        XcbReply<xcb_get_input_focus_reply_t> sync(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    }

private:
    XcbConnection m_connection;
};

class X11Capture : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!server.ok())
            GTEST_SKIP() << "No Xvfb to record.";
        scene = std::make_unique<X11TestScene>();
        ASSERT_TRUE(scene->ok()) << "cannot connect to " << server.display().constData();
    }
    void TearDown() override { LeftOutWindows::instance().remove(ours); }
    std::unique_ptr<ScreenSource> startSource(FrameCollector &collected)
    {
        auto source = platform.openScreen(platform.displays().first());
        collected.start(*source);
        return source;
    }
    // A fresh scene over a wallpaper (windows stacked in the order made)
    // with our window in it, and a source delivering it into `collected`.
    std::unique_ptr<ScreenSource> leftOutScene(FrameCollector &collected, bool beneath, bool leftOut, bool above)
    {
        if (!wallpaper)
            wallpaper = std::make_unique<Wallpaper>(kWallpaper);
        LeftOutWindows::instance().remove(ours);
        scene = std::make_unique<X11TestScene>();
        if (beneath)
            beneathWindow = scene->addWindow(kBeneathRect, kBeneath);
        ours = scene->addWindow(kOursRect, kOurs);
        if (above)
            scene->addWindow(QRect(300, 300, 60, 60), kAbove);
        if (leftOut)
            LeftOutWindows::instance().add(ours);
        scene->movePointer(1500, 900);
        return startSource(collected);
    }

    PrivateXServer server{QSize(1600, 1000)};
    LinuxCapturePlatform platform;
    std::unique_ptr<X11TestScene> scene;
    std::unique_ptr<Wallpaper> wallpaper;
    uint32_t ours = 0;
    uint32_t beneathWindow = 0;
};

TEST_F(X11Capture, ListsTheMonitorCoveringTheScreenAndRefusesOneBeyondIt)
{
    const QList<DisplayInfo> displays = platform.displays();
    ASSERT_FALSE(displays.isEmpty());
    DisplayInfo first = displays.first();
    EXPECT_NE(first.id, 0u);
    EXPECT_EQ(first.pixelRect, QRect(QPoint(0, 0), scene->screenSize()));
    EXPECT_DOUBLE_EQ(first.widthPoints, first.pixelRect.width()); // no desktop scale set
    first.pixelRect = QRect(first.pixelRect.right() + 1, 0, 800, 600);
    EXPECT_EQ(failureText([&] { platform.openScreen(first); }),
              QStringLiteral("The display to record is no longer on the X screen."));
}

TEST_F(X11Capture, SeesWhatIsDrawnAndThePointerAndNothingWhenTheScreenIsQuiet)
{
    const uint32_t window = scene->addWindow(QRect(100, 100, 300, 200), 0xc03020);
    scene->addWindow(QRect(500, 500, 400, 400), 0x808080);
    scene->movePointer(600, 600);
    const auto cursorAt = [](const VideoFrame &frame, QPoint at) {
        int differing = 0;
        for (int y = at.y() - 12; y < at.y() + 12; ++y)
            for (int x = at.x() - 12; x < at.x() + 12; ++x)
                differing += pixelAt(frame, x, y) != 0x808080u;
        return differing > 10;
    };
    FrameCollector collected;
    auto source = startSource(collected);
    ASSERT_TRUE(collected.waitForPicture(
        [&](const VideoFrame &f) { return pixelAt(f, 150, 150) == 0xc03020u && cursorAt(f, QPoint(600, 600)); }));
    EXPECT_EQ(collected.last().width, scene->screenSize().width());

    // Once the first pictures are in, a still screen gives none (Damage
    // reports nothing).
    for (int i = 0; i < 20 && collected.waitBeyond(collected.count(), 150); ++i) {
    }
    EXPECT_FALSE(collected.waitBeyond(collected.count(), 400));

    scene->fill(window, QRect(0, 0, 300, 200), 0x20a040);
    EXPECT_TRUE(collected.waitForPicture([](const VideoFrame &f) { return pixelAt(f, 150, 150) == 0x20a040u; }));
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

TEST_F(X11Capture, PicturesShowWhatLiesBeneathOurLeftOutWindows)
{
    struct Spot {
        QPoint at;
        uint32_t rgb;
    };
    struct Case {
        const char *name;
        bool beneath, leftOut, above;
        std::vector<Spot> spots;
    };
    const Case cases[] = {
        {"left out over a window",
         true,
         true,
         false,
         {{{300, 200}, kBeneath},
          {{398, 290}, kBeneath},
          {{401, 200}, kWallpaper},
          {{450, 360}, kWallpaper},
          {{150, 150}, kBeneath},
          {{600, 600}, kWallpaper}}},
        {"not left out", true, false, false, {{{300, 200}, kOurs}, {{450, 360}, kOurs}, {{150, 150}, kBeneath}}},
        {"nothing beneath", false, true, false, {{{300, 200}, kWallpaper}, {{460, 360}, kWallpaper}}},
        {"a window above ours stays", true, true, true, {{{330, 330}, kAbove}, {{300, 200}, kBeneath}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FrameCollector collected;
        auto source = leftOutScene(collected, c.beneath, c.leftOut, c.above);
        collected.waitForPicture([&c](const VideoFrame &frame) {
            return std::all_of(c.spots.begin(), c.spots.end(), [&frame](const Spot &spot) {
                return pixelAt(frame, spot.at.x(), spot.at.y()) == spot.rgb;
            });
        });
        source->stop();
        const VideoFrame frame = collected.last();
        ASSERT_TRUE(frame.pixels);
        for (const Spot &spot : c.spots)
            EXPECT_EQ(pixelAt(frame, spot.at.x(), spot.at.y()), spot.rgb) << spot.at.x() << "," << spot.at.y();
        EXPECT_TRUE(collected.failures().isEmpty());
    }
}

TEST_F(X11Capture, DrawingInsideOurLeftOutWindowIsNoChange)
{
    FrameCollector collected;
    auto source = leftOutScene(collected, true, true, false);
    ASSERT_TRUE(collected.waitForPicture([](const VideoFrame &f) { return pixelAt(f, 300, 200) == kBeneath; }));
    for (int i = 0; i < 20 && collected.waitBeyond(collected.count(), 150); ++i) {
    }
    for (uint32_t shade = 0; shade < 4; ++shade) {
        scene->fill(ours, QRect(0, 0, 220, 220), 0x101010 * (shade + 1));
        EXPECT_FALSE(collected.waitBeyond(collected.count(), 100)) << shade;
    }
    // The window beneath changing where ours covers it is a change.
    scene->fill(beneathWindow, QRect(150, 50, 150, 150), 0x808000);
    EXPECT_TRUE(collected.waitForPicture([](const VideoFrame &f) { return pixelAt(f, 270, 170) == 0x808000u; }));
    source->stop();
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
