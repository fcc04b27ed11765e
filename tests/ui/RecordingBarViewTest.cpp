#include "PhaseRig.h"
#include "QtPrinters.h"
#include "support/ScreenshotCompare.h"

#include "controls/BarPlacement.h"
#include "controls/RecordingBarBackend.h"

#include <QQuickItem>
#include <QQuickView>
#include <QTest>
#include <QToolTip>
#include <gtest/gtest.h>

namespace {

using Edge = BarPlacement::Edge;
using Kind = Phase::Kind;

// The bar's view as the bar window hosts it, over an AppState of doubles, on
// a desktop-grey backdrop; its waits scaled by `timeScale`.
struct BarRig {
    PhaseRig rig;
    BarPlacement placement;
    std::unique_ptr<RecordingBarBackend> backend;
    QQuickView view;
    bool hintAtLoad = false;

    explicit BarRig(bool showHint = false)
    {
        rig.make();
        rig.state->setDemoMode(true);
        backend = std::make_unique<RecordingBarBackend>(rig.state.get(), &placement, showHint);
    }

    void show(double timeScale = 0.01)
    {
        view.setInitialProperties(
            {{"backend", QVariant::fromValue<QObject *>(backend.get())}, {"timeScale", timeScale}});
        view.setResizeMode(QQuickView::SizeRootObjectToView);
        view.setColor(QColor(0x5b, 0x61, 0x70));
        view.setSource(QUrl(QStringLiteral("qrc:/qml/RecordingBarView.qml")));
        ASSERT_TRUE(view.errors().isEmpty()) << qPrintable(view.errors().value(0).toString());
        // Read before the event loop runs: at a small time scale the hint is gone in a blink.
        hintAtLoad = root()->property("hintVisible").toBool();
        view.resize(300, backend->showHint() ? 124 : 56);
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    }

    QQuickItem *root() const { return view.rootObject(); }
    QQuickItem *item(const char *name) const { return root()->findChild<QQuickItem *>(QString::fromLatin1(name)); }
    bool shown(const char *name) const
    {
        QQuickItem *found = item(name);
        return found && found->isVisible() && found->opacity() > 0;
    }
    QString text(const char *name) const { return item(name)->property("text").toString(); }
    // The phase's items that show, each with its text if it has one.
    QStringList visible() const
    {
        QStringList names;
        for (const char *name : {"recordingDot", "elapsedText", "doneButton", "discardButton", "uploadRing",
                                 "uploadText", "finishingSpinner", "startingText", "finishingText"})
            if (shown(name))
                names << (text(name).isEmpty() ? QString::fromLatin1(name) : name + QStringLiteral(" ") + text(name));
        return names;
    }
    // Where `name` stands once the view has laid out and drawn what changed.
    QRectF frame(const char *name)
    {
        settledShot(view);
        QQuickItem *found = item(name);
        return found->mapRectToScene(QRectF(QPointF(), found->size()));
    }
    void click(const char *name) { QTest::mouseClick(&view, Qt::LeftButton, {}, frame(name).center().toPoint()); }
    bool armed() const { return root()->property("confirmDiscard").toBool(); }
};

TEST(RecordingBarView, RingShowsTheSentShareOrSpinsWhileTheSizeIsUnknown)
{
    BarRig bar;
    bar.rig.reach(Kind::uploading);
    bar.show();
    QQuickItem *ring = bar.item("uploadRing");
    struct Case {
        qint64 sent, total;
        bool determinate;
        double arc;
    };
    for (const Case &c : {Case{3, 1000, true, 0.02}, Case{600, 1000, true, 0.6},
                          Case{1'238'800'000, 1'251'300'000, true, 0.99}, Case{0, 0, false, 0}}) {
        bar.rig.progress(c.sent, c.total);
        // Even the longest text of a long recording fits the bar.
        EXPECT_LE(bar.frame("pill").width(), 300) << qPrintable(bar.text("uploadText"));
        EXPECT_EQ(ring->property("determinate").toBool(), c.determinate) << c.sent << " of " << c.total;
        EXPECT_TRUE(waitUntil([&] { return qAbs(ring->property("shown").toDouble() - c.arc) < 0.001; }))
            << c.sent << " of " << c.total << ": " << ring->property("shown").toDouble();
    }
}

TEST(RecordingBarView, HintSaysWhatDraggingDoesOnTheSideAwayFromTheBubble)
{
    const QString start = QStringLiteral("Click Done when you're finished, or the trash can to throw it away. ");
    struct Case {
        Edge edge;
        BubbleSpot spot;
        double pillOffset;
        QString end;
    };
    const Case cases[] = {
        {Edge::top, BubbleSpot::bottomLeft, 0, "You can drag this bar anywhere."},
        {Edge::belowBubble, BubbleSpot::bottomLeft, -30,
         "Drag your bubble anywhere; in the video it shows bottom left."},
        {Edge::aboveBubble, BubbleSpot::topRight, 25, "Drag your bubble anywhere; in the video it shows top right."},
        {Edge::belowBubble, BubbleSpot::asOnScreen, 0, "Drag your bubble and these controls follow."},
    };
    for (const Case &c : cases) {
        BarRig bar(true);
        bar.rig.state->setBubbleInVideo(c.spot);
        bar.placement.setEdge(c.edge);
        bar.placement.setPillOffset(c.pillOffset);
        bar.rig.reach(Kind::recording);
        bar.show(1.0);
        const bool above = c.edge == Edge::aboveBubble;
        const char *hint = above ? "hintAbove" : "hintBelow";
        ASSERT_TRUE(waitUntil([&] { return bar.item(hint)->opacity() == 1.0; }));
        EXPECT_FALSE(bar.shown(above ? "hintBelow" : "hintAbove"));
        EXPECT_EQ(bar.text(hint), start + c.end);
        // The pill keeps 2 points from the window's edge on the bubble's side, the hint is whole on the other.
        const QRectF pill = bar.frame("pill"), tip = bar.frame(hint);
        const bool apart = above ? tip.bottom() <= pill.top() : tip.top() >= pill.bottom();
        EXPECT_EQ(std::tuple(pill.center().x(), above ? 124 - pill.bottom() : pill.top(), apart,
                             tip.top() >= 0 && tip.bottom() <= 124),
                  std::tuple(150 + c.pillOffset, 2.0, true, true));
    }
}

TEST(RecordingBarView, HintFadesAfterItsTime)
{
    BarRig bar(true);
    bar.rig.reach(Kind::recording);
    bar.show();
    EXPECT_TRUE(waitUntil([&] { return !bar.shown("hintBelow"); }));
}

TEST(RecordingBarView, DiscardTakesASecondClickBeforeItDisarms)
{
    // At full time scale the arming lasts seconds, long enough to measure the armed pill.
    BarRig quick;
    quick.placement.setPillOffset(-40);
    quick.rig.reach(Kind::recording);
    quick.rig.now = quick.rig.now.addSecs(100 * 60 + 5);
    ASSERT_TRUE(waitUntil([&] { return quick.rig.state->elapsed() == QStringLiteral("100:05"); }));
    quick.show(1.0);
    quick.click("discardButton");
    EXPECT_EQ(quick.text("discardButton"), QStringLiteral("Discard?"));
    EXPECT_TRUE(quick.item("discardButton")->property("destructive").toBool());
    // Long and armed, shifted towards the bubble, the pill still shows whole.
    EXPECT_GE(quick.frame("pill").left(), 0);
    EXPECT_LE(quick.frame("pill").right(), 300);
    EXPECT_TRUE(quick.armed());
    quick.click("discardButton");
    ASSERT_TRUE(waitUntil([&] { return quick.rig.state->phase().is(Kind::idle); }));
    EXPECT_EQ(quick.rig.count("recorder.stop"), 1);

    // Clicks further apart than the arming lasts: the second click arms again.
    BarRig slow;
    slow.rig.reach(Kind::recording);
    slow.show();
    slow.click("discardButton");
    EXPECT_TRUE(slow.armed());
    ASSERT_TRUE(waitUntil([&] { return !slow.armed(); }));
    slow.click("discardButton");
    EXPECT_TRUE(slow.armed());
    settle();
    EXPECT_TRUE(slow.rig.state->phase().is(Kind::recording));
    EXPECT_EQ(slow.rig.count("recorder.stop"), 0);
}

// Return stops and uploads, Ctrl+Return does not. (A click on Done is the bar's road test.)
TEST(RecordingBarView, ReturnStopsAndUploads)
{
    for (const auto &[modifiers, stops] : {std::pair{Qt::NoModifier, true}, std::pair{Qt::ControlModifier, false}}) {
        BarRig bar;
        bar.rig.reach(Kind::recording);
        bar.show();
        bar.view.requestActivate();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&bar.view));
        QTest::keyClick(&bar.view, Qt::Key_Return, modifiers);
        // The press hands the stop on as a queued task: once that ran, the phase has moved or never will.
        settle();
        EXPECT_EQ(bar.rig.state->phase().is(Kind::recording), !stops) << modifiers;
        EXPECT_TRUE(!stops || waitUntil([&] { return bar.rig.count("upload") == 1; })) << modifiers;
    }
}

TEST(RecordingBarView, ButtonsExplainThemselvesInTooltipWindows)
{
    BarRig bar;
    bar.rig.reach(Kind::recording);
    bar.show();
    // Tooltips close when a window turns active: let that happen first.
    bar.view.requestActivate();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&bar.view));
    // A move to where the pointer already is would be dropped.
    QTest::mouseMove(&bar.view, QPoint(1, 1));
    for (const auto &[button, tip] : {std::pair{"doneButton", "Stop and upload. The link copies itself."},
                                      std::pair{"discardButton", "Throw this recording away. Nothing is uploaded."}}) {
        QTest::mouseMove(&bar.view, bar.frame(button).center().toPoint());
        EXPECT_TRUE(waitUntil([&] { return QToolTip::isVisible() && QToolTip::text() == QLatin1String(tip); }));
        QTest::mouseMove(&bar.view, QPoint(2, 2));
        EXPECT_TRUE(waitUntil([&] { return !QToolTip::isVisible(); }));
    }
}

// What shows in each phase, and how it looks (the recording also with its hint).
TEST(RecordingBarView, EachPhaseShowsItsItemsAsTheReferencesShow)
{
    const struct {
        Kind kind;
        QStringList shown;
        const char *shot = nullptr;
        bool hint = false;
    } cases[] = {
        {Kind::starting, {"startingText Starting…"}},
        {Kind::recording, {"recordingDot", "elapsedText 0:00", "doneButton Done", "discardButton"}, "bar-recording"},
        {Kind::recording, {"recordingDot", "elapsedText 0:00", "doneButton Done", "discardButton"}, "bar-hint", true},
        {Kind::finishing, {"finishingSpinner", "finishingText Finishing…"}, "bar-finishing"},
        {Kind::uploading, {"uploadRing", "uploadText Uploading…"}, "bar-uploading"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.shot ? c.shot : "starting");
        BarRig bar(c.hint);
        bar.rig.state->setBubbleInVideo(BubbleSpot::bottomRight);
        bar.placement.setEdge(c.hint ? Edge::belowBubble : Edge::top);
        bar.rig.reach(c.kind);
        bar.show(1.0);
        EXPECT_EQ(bar.visible(), c.shown);
        // The hint shows at once, and only when asked for.
        EXPECT_EQ(std::pair(bar.hintAtLoad, bar.root()->implicitHeight()), std::pair(c.hint, c.hint ? 124.0 : 56.0));
        if (!c.shot)
            continue;
        ScreenshotTolerance tolerance;
        if (c.kind == Kind::recording) {
            // A steady dot at full strength instead of its pulse.
            QObject *pulse = bar.item("recordingDot")->findChild<QObject *>(QStringLiteral("pulseAnimation"));
            ASSERT_NE(pulse, nullptr);
            pulse->setProperty("running", false);
            bar.item("recordingDot")->setOpacity(1.0);
        }
        if (c.kind == Kind::uploading) {
            bar.rig.progress(3, 1000);
            ASSERT_TRUE(
                waitUntil([&] { return qAbs(bar.item("uploadRing")->property("shown").toDouble() - 0.02) < 0.001; }));
        }
        if (c.kind == Kind::finishing)
            tolerance.ignored << bar.frame("finishingSpinner").toAlignedRect().adjusted(-1, -1, 1, 1);
        if (c.hint) {
            ASSERT_TRUE(waitUntil([&] { return bar.item("hintBelow")->opacity() == 1.0; }));
        }
        EXPECT_TRUE(matchesReference(settledShot(bar.view), QString::fromLatin1(c.shot), tolerance));
    }
}

} // namespace
