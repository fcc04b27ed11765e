#include "PhaseRig.h"
#include "QtPrinters.h"
#include "ScreenshotCompare.h"

#include "app/RecentLink.h"
#include "platform/MainWindowAccess.h"
#include "platform/TaskbarPresence.h"
#include "ui/MainWindow.h"

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QQmlEngine>
#include <QQuickImageProvider>
#include <QQuickItem>
#include <QQuickWidget>
#include <QQuickWindow>
#include <QTest>
#include <gtest/gtest.h>

namespace {

using Presence = MainWindowAccess::Presence;
using Kind = Phase::Kind;

// Thumbnails in place of the cache's: a gradient in a colour per link.
class GradientThumbnails final : public QQuickImageProvider {
public:
    GradientThumbnails() : QQuickImageProvider(QQuickImageProvider::Image) {}
    QImage requestImage(const QString &id, QSize *size, const QSize &) override
    {
        QImage image(160, 100, QImage::Format_RGB32);
        QPainter painter(&image);
        QLinearGradient gradient(0, 0, 160, 100);
        gradient.setColorAt(0, QColor::fromHsv(int(qHash(id) % 360), 120, 200));
        gradient.setColorAt(1, QColor::fromHsv(int(qHash(id) % 360), 200, 70));
        painter.fillRect(image.rect(), gradient);
        *size = image.size();
        return image;
    }
};

// The real window over an AppState of doubles, with a few recent links.
struct WindowRig {
    PhaseRig rig;
    std::unique_ptr<MainWindow> window;

    explicit WindowRig(bool withLinks = false)
    {
        if (withLinks) {
            const QDateTime now = QDateTime::currentDateTime();
            const QList<RecentLink> links{
                {"a1", "https://share.test/v/a1", "Product walkthrough for the design review", now.addDays(-1),
                 now.addSecs(3 * 3600 + 120)},
                {"b2", "https://share.test/v/b2", "Bug: the upload button stays grey", now.addDays(-2),
                 now.addDays(5).addSecs(60)},
                {"c3", "https://share.test/v/c3", "Welcome to the team", now.addDays(-3), now.addYears(200)},
            };
            rig.store->values.insert(QStringLiteral("recentLinks"), RecentLinkCoding::encode(links));
            rig.now = now;
        }
        rig.make();
        window = std::make_unique<MainWindow>(
            *rig.state, rig.clipboard, QUrl(QStringLiteral("https://share.test")),
            [](QQmlEngine &engine) { engine.addImageProvider(QStringLiteral("thumbs"), new GradientThumbnails); });
    }

    QQuickItem *item(const char *name) const
    {
        return window->view()->rootObject()->findChild<QQuickItem *>(QString::fromLatin1(name));
    }
    bool shown(const char *name) const
    {
        QQuickItem *found = item(name);
        return found && found->isVisible();
    }
    QStringList visible() const
    {
        QStringList names;
        for (const char *name : {"recordButton", "stageHint", "startingText", "elapsedText", "doneButton",
                                 "finishingText", "uploadRing", "settings", "recentLinks"})
            if (shown(name))
                names << QString::fromLatin1(name);
        return names;
    }
    // Compared with the committed reference once the view has drawn what changed.
    void screenshot(const QString &name) const
    {
        settledShot(*window->view()->quickWindow());
        EXPECT_TRUE(matchesReference(window->grab().toImage(), name));
    }
};

// Without links there is no recent section and no heading.
TEST(MainWindow, StageAndSettingsFollowThePhase)
{
    const std::pair<Kind, QStringList> cases[] = {
        {Kind::idle, {"recordButton", "stageHint", "settings"}},
        {Kind::starting, {"startingText"}},
        {Kind::recording, {"elapsedText", "doneButton"}},
        {Kind::finishing, {"finishingText"}},
        {Kind::uploading, {"uploadRing"}},
    };
    for (const auto &[kind, items] : cases) {
        WindowRig w;
        ASSERT_TRUE(w.window->view()->errors().isEmpty());
        w.rig.reach(kind);
        w.window->show();
        EXPECT_EQ(w.visible(), items) << int(kind);
        // While the size is unknown, a spinner.
        EXPECT_TRUE(kind != Kind::uploading || !w.item("uploadRing")->property("determinate").toBool());
    }
}

TEST(MainWindow, CtrlRRecordsAndCtrlSFinishes)
{
    WindowRig w;
    AppState &state = *w.rig.state;
    w.window->show();
    w.window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.window.get()));
    w.window->view()->setFocus();
    QTest::keyClick(w.window->view(), Qt::Key_R, Qt::ControlModifier);
    ASSERT_TRUE(waitUntil([&] { return state.phase().is(Kind::recording); }));
    QTest::keyClick(w.window->view(), Qt::Key_S, Qt::ControlModifier);
    ASSERT_TRUE(waitUntil([&] { return state.recent().size() == 1; }));
}

TEST(MainWindow, BubbleRowAndHintFollowTheCamera)
{
    WindowRig w;
    AppState &state = *w.rig.state;
    state.setBubbleInVideo(BubbleSpot::topRight);
    // The row shows with the camera on; the hint says where Done is.
    const QString start = QStringLiteral("This window hides while you record. Press Done");
    for (const bool camera : {false, true, false}) {
        state.setCameraEnabled(camera);
        const QString hint = w.item("stageHint")->property("text").toString();
        const QString where =
            camera ? QStringLiteral(", just under your camera bubble") : QStringLiteral(" at the top");
        EXPECT_EQ(std::pair(w.shown("bubbleRow"), hint.startsWith(start + where)), std::pair(camera, true))
            << qPrintable(hint);
    }
    EXPECT_EQ(w.item("bubbleSpotButton")->property("text").toString(), QStringLiteral("Top right"));
}

TEST(MainWindow, Screenshots)
{
    WindowRig w(true);
    AppState &state = *w.rig.state;
    QDir().mkpath(w.rig.recordingsFolder());
    QFile left(w.rig.recordingsFolder() + QStringLiteral("/Mivra 2026-12-05 08.40.12.mp4"));
    ASSERT_TRUE(left.open(QIODevice::WriteOnly));
    left.write(QByteArray("\0\0\0\030ftypisom", 12) + QByteArray(18'400'000, '\0'));
    left.setFileTime(QDateTime::currentDateTime().addSecs(-600), QFileDevice::FileModificationTime);
    left.close();
    state.refreshLeftBehind();
    w.window->show();
    ASSERT_TRUE(waitUntil([&] { return w.shown("leftBehind") && w.shown("recentLinks"); }));
    w.screenshot(QStringLiteral("main-idle"));

    state.setDemoMode(true);
    run(state.startRecording());
    ASSERT_TRUE(state.phase().is(Kind::recording));
    EXPECT_FALSE(w.shown("leftBehind"));
    w.screenshot(QStringLiteral("main-recording"));

    w.rig.uploader->uploadStep.hold = true;
    w.rig.pending = state.stopRecording();
    ASSERT_TRUE(waitUntil([&] { return state.phase().is(Kind::uploading); }));
    w.rig.progress(4'200'000, 10'000'000);
    // The arc eases to its new length.
    ASSERT_TRUE(waitUntil([&] { return qAbs(w.item("uploadRing")->property("shown").toDouble() - 0.42) < 0.001; }));
    w.screenshot(QStringLiteral("main-uploading"));
}

TEST(MainWindowAccess, FindsTheMainWindowByNameOrTitle)
{
    QtMainWindowAccess access;
    QWidget other;
    other.setWindowTitle(QStringLiteral("Something else"));
    other.show();
    EXPECT_EQ(access.presence(), Presence::absent);
    EXPECT_FALSE(access.bringToFront());

    QWidget titled;
    titled.setWindowTitle(QStringLiteral("Mivra Video"));
    titled.winId(); // a native window, hidden
    EXPECT_EQ(access.presence(), Presence::hidden);
    EXPECT_TRUE(access.bringToFront());
    EXPECT_TRUE(titled.isVisible());
    EXPECT_EQ(access.presence(), Presence::shown);
}

TEST(MainWindowAccess, RecordingTakesTheRealWindowAwayAndBringsItBack)
{
    // Without a taskbar entry the window is a utility window, which is hidden instead.
    for (const bool inTaskbar : {true, false}) {
        AppStateRig rig;
        rig.windowOverride = std::make_shared<QtMainWindowAccess>();
        AppState &state = rig.make();
        MainWindow window(state, rig.clipboard, QUrl(QStringLiteral("https://share.test")));
        WindowTaskbarPresence taskbar;
        taskbar.setShown(inTaskbar);
        taskbar.applyTo(&window);
        window.show();
        ASSERT_TRUE(waitUntil([&] { return rig.windowOverride->presence() == Presence::shown; }));

        // Taken away for the recording, it is back when it ends.
        const auto look = [&] {
            return std::tuple(state.minimizedForRecording(), rig.windowOverride->presence(), window.isVisible());
        };
        run(state.startRecording());
        // A minimised window stays visible; a utility one is hidden.
        EXPECT_EQ(look(), std::tuple(true, Presence::minimised, inTaskbar)) << inTaskbar;
        run(state.discardRecording());
        EXPECT_EQ(look(), std::tuple(false, Presence::shown, true)) << inTaskbar;
    }
}

TEST(TaskbarPresence, OnlyTheMainWindowChangesType)
{
    WindowTaskbarPresence presence;
    QWidget main;
    main.setObjectName(QStringLiteral("main"));
    QWidget panel(nullptr, Qt::Tool);
    panel.setObjectName(QStringLiteral("bar"));
    main.show();

    presence.setShown(false);
    EXPECT_EQ(main.windowType(), Qt::Tool);
    EXPECT_TRUE(main.isVisible()) << "a shown window stays shown";
    presence.setShown(true);
    EXPECT_EQ(main.windowType(), Qt::Window);
    EXPECT_EQ(panel.windowType(), Qt::Tool);

    presence.setShown(false);
    QWidget later;
    presence.applyTo(&later);
    EXPECT_EQ(later.windowType(), Qt::Tool);
}

} // namespace
