// Our own windows left out of X11 pictures: what lies beneath them shows
// instead, on a private Xvfb with Composite.
#include "FrameCollector.h"
#include "PrivateXServer.h"
#include "X11TestScene.h"
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

class X11LeftOutTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!server.ok())
            GTEST_SKIP() << "No Xvfb to record.";
        wallpaper = std::make_unique<Wallpaper>(kWallpaper);
    }
    void TearDown() override { LeftOutWindows::instance().remove(ours); }

    // A fresh scene (windows stacked in the order made) with our window in
    // it; a source delivering into `collected`.
    std::unique_ptr<ScreenSource> record(FrameCollector &collected, bool beneath, bool leftOut, bool above)
    {
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
        auto source = platform.openScreen(platform.displays().first());
        collected.start(*source);
        return source;
    }

    PrivateXServer server{QSize(1600, 1000)};
    LinuxCapturePlatform platform;
    std::unique_ptr<Wallpaper> wallpaper;
    std::unique_ptr<X11TestScene> scene;
    uint32_t ours = 0;
    uint32_t beneathWindow = 0;
};

TEST_F(X11LeftOutTest, PicturesShowWhatLiesBeneathOurLeftOutWindows)
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
        auto source = record(collected, c.beneath, c.leftOut, c.above);
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

TEST_F(X11LeftOutTest, DrawingInsideOurLeftOutWindowIsNoChange)
{
    FrameCollector collected;
    auto source = record(collected, true, true, false);
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

} // namespace
