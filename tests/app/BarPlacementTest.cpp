// The recording bar's place: pure geometry with the origin at the lower left
// and y upward, then the bar itself following a window on the offscreen desktop.
#include "AppStateRig.h"

#include "controls/BarGeometry.h"
#include "controls/BarPlacement.h"
#include "controls/RecordingBar.h"
#include "platform/LeftOutWindows.h"

#include <QQuickWindow>
#include <QScreen>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

using Edge = BarPlacement::Edge;

// A 1920 x 1080 screen with a 32-point panel at the top.
const QRectF kVisible(0, 0, 1920, 1048);

// Centred eight under the top of its own screen's visible area, here a second
// screen to the right and raised; the window cases below check the primary one.
TEST(BarGeometry, ShowFrameIsCentredOnItsOwnScreen)
{
    EXPECT_EQ(BarGeometry::showFrame(QRectF(1920, 100, 1280, 900), false), QRectF(2410, 936, 300, 56));
}

TEST(BarGeometry, PlaceBesideTheBubble)
{
    struct Case {
        const char *name;
        QRectF bubble;
        bool hint;
        QRectF frame;
        Edge edge;
        double pillOffset;
    } cases[] = {
        {"middle", {850, 500, 220, 220}, false, {810, 434, 300, 56}, Edge::belowBubble, 0},
        {"just fits below", {850, 66, 220, 220}, false, {810, 0, 300, 56}, Edge::belowBubble, 0},
        {"near the bottom", {850, 65, 220, 220}, false, {810, 295, 300, 56}, Edge::aboveBubble, 0},
        {"room for the plain bar only", {850, 100, 220, 220}, true, {810, 330, 300, 124}, Edge::aboveBubble, 0},
        {"left, pill shifted", {20, 500, 220, 220}, false, {0, 434, 300, 56}, Edge::belowBubble, -20},
        {"far left", {0, 500, 220, 220}, false, {0, 434, 300, 56}, Edge::belowBubble, -40},
        {"partly off the left", {-100, 500, 220, 220}, false, {0, 434, 300, 56}, Edge::belowBubble, -40},
        {"far right", {1700, 500, 220, 220}, false, {1620, 434, 300, 56}, Edge::belowBubble, 40},
    };
    for (const Case &c : cases) {
        const BarGeometry::Placement placed = BarGeometry::place(c.bubble, kVisible, c.hint);
        EXPECT_EQ(std::tuple(placed.frame, placed.edge, placed.pillOffset), std::tuple(c.frame, c.edge, c.pillOffset))
            << c.name;
    }
    // Narrower than the bar: the right edge wins.
    EXPECT_EQ(BarGeometry::place({0, 500, 220, 220}, {0, 0, 200, 1000}, false).frame.x(), -100);
}

// The bar on the offscreen desktop (800 x 800, upper-left origin), following
// a stand-in bubble window.
class RecordingBarWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite() { QQuickWindow::setGraphicsApi(QSGRendererInterface::Software); }
    void SetUp() override
    {
        if (!QGuiApplication::primaryScreen())
            GTEST_SKIP() << "no screen";
        ASSERT_EQ(QGuiApplication::primaryScreen()->availableGeometry(), QRect(0, 0, 800, 800));
        bubble.resize(220, 220);
    }
    void moveBubble(QPoint topLeft)
    {
        bubble.setPosition(topLeft);
        waitUntil([&] { return bubble.position() == topLeft; });
    }
    bool leftOut() const { return LeftOutWindows::instance().ids().contains(quint32(bar.panel()->winId())); }

    AppStateRig rig;
    AppState &state = rig.make();
    QWindow bubble;
    RecordingBar bar;
};

TEST_F(RecordingBarWindow, FollowsTheBubbleUntilDetached)
{
    moveBubble({290, 200});
    bar.attach(&bubble);
    EXPECT_EQ(bar.panel(), nullptr) << "attach before show does nothing";

    QSignalSpy edges(bar.placement(), &BarPlacement::edgeChanged);
    QSignalSpy offsets(bar.placement(), &BarPlacement::pillOffsetChanged);
    bar.show(QGuiApplication::primaryScreen(), &state, false);
    ASSERT_TRUE(bar.panel());
    EXPECT_EQ(bar.panel()->geometry(), QRect(250, 8, 300, 56));
    EXPECT_TRUE(bar.panel()->isVisible());
    EXPECT_EQ(leftOut(), !RecordingBar::capturable());

    struct Step {
        const char *name;
        QPoint bubble;
        QRect bar;
        BarPlacement::Edge edge;
        double pillOffset;
    } steps[] = {
        {"middle", {290, 200}, {250, 430, 300, 56}, Edge::belowBubble, 0},
        {"far left near the bottom", {0, 560}, {0, 494, 300, 56}, Edge::aboveBubble, -40},
        {"back to the middle", {290, 200}, {250, 430, 300, 56}, Edge::belowBubble, 0},
    };
    bar.attach(&bubble);
    for (const Step &step : steps) {
        moveBubble(step.bubble);
        EXPECT_EQ(std::tuple(bar.panel()->geometry(), bar.placement()->edge(), bar.placement()->pillOffset()),
                  std::tuple(step.bar, step.edge, step.pillOffset))
            << step.name;
    }
    EXPECT_EQ(std::pair(edges.count(), offsets.count()), std::pair(qsizetype(3), qsizetype(2)))
        << "notified on real changes only: edge below, above, below; offset -40, 0";

    bar.detach();
    moveBubble({0, 0});
    EXPECT_EQ(bar.panel()->geometry(), QRect(250, 430, 300, 56)) << "stays where it was";
    bar.hide();
    EXPECT_FALSE(bar.panel()->isVisible());
    EXPECT_FALSE(leftOut());
}

TEST_F(RecordingBarWindow, TheHintsHeightHoldsForTheWholeRecording)
{
    // 80 pixels below the bubble: room for the plain bar, not the hinted one.
    moveBubble({290, 500});
    bar.show(QGuiApplication::primaryScreen(), &state, true);
    EXPECT_EQ(bar.panel()->geometry(), QRect(250, 8, 300, 124));
    bar.attach(&bubble);
    EXPECT_EQ(std::pair(bar.panel()->geometry(), bar.placement()->edge()),
              std::pair(QRect(250, 366, 300, 124), Edge::aboveBubble));
    bar.hide();
    // The next recording without the hint fits under it, from the top again.
    bar.show(QGuiApplication::primaryScreen(), &state, false);
    EXPECT_EQ(bar.placement()->edge(), Edge::top);
    bar.attach(&bubble);
    EXPECT_EQ(std::pair(bar.panel()->geometry(), bar.placement()->edge()),
              std::pair(QRect(250, 730, 300, 56), Edge::belowBubble));
}

} // namespace
