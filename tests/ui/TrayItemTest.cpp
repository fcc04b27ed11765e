#include "XEmbedTrayStub.h"

#include "Await.h"
#include "support/AppStateRig.h"

#include "ui/TrayItem.h"

#include <QGuiApplication>
#include <QPointer>
#include <QSystemTrayIcon>
#include <gtest/gtest.h>

namespace {

using Icon = TrayLabel::Icon;

QAction *actionTitled(QMenu &menu, const QString &prefix)
{
    for (QAction *action : menu.actions())
        if (action->text().startsWith(prefix))
            return action;
    return nullptr;
}

TEST(TrayItem, DocksInATrayAndFollowsThePhase)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X display (run under Xvfb)";
    XEmbedTrayStub trayManager;
    ASSERT_TRUE(trayManager.ready());
    ASSERT_TRUE(waitUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }));

    AppStateRig rig;
    AppState &state = rig.make();
    TrayItem tray(state, {});
    tray.show();
    EXPECT_TRUE(waitUntil([&] { return trayManager.docked() >= 1; }));
    EXPECT_EQ(tray.shownIcon(), Icon::app);
    EXPECT_EQ(tray.icon().toolTip(), QStringLiteral("Mivra Video"));

    rig.recorder->startStep.hold = true;
    auto start = state.startRecording();
    ASSERT_TRUE(waitUntil([&] { return tray.shownIcon() == Icon::dottedCircle; }));
    EXPECT_EQ(tray.menu().actions()[2]->text(), QStringLiteral("Starting\u2026"));
    rig.recorder->startStep.release();
    run(std::move(start));
    rig.now = rig.now.addSecs(3725);
    // No text beside a tray icon: the time ticks in the tooltip and the menu.
    ASSERT_TRUE(
        waitUntil([&] { return tray.icon().toolTip() == QStringLiteral("Mivra Video \u2013 recording 62:05"); }));
    EXPECT_EQ(tray.shownIcon(), Icon::app);
    EXPECT_EQ(tray.menu().actions()[2]->text(), QStringLiteral("Done  62:05"));

    rig.recorder->stopStep.hold = true;
    rig.uploader->uploadStep.hold = true;
    auto stop = state.stopRecording();
    ASSERT_TRUE(waitUntil([&] { return tray.shownIcon() == Icon::dottedCircle; })) << "finishing";
    rig.recorder->stopStep.release();
    ASSERT_TRUE(waitUntil([&] { return tray.shownIcon() == Icon::upArrow; }));
    rig.uploader->uploadStep.release();
    run(std::move(stop));
    ASSERT_TRUE(waitUntil([&] { return tray.shownIcon() == Icon::app; }));
}

TEST(TrayItem, OpenSubmenuStaysOpenWhileTheTimeTicks)
{
    AppStateRig rig;
    AppState &state = rig.make();
    run(state.startRecording());
    run(state.stopRecording());
    run(state.startRecording());
    TrayItem item(state, {});
    QMenu &menu = item.menu();
    QPointer<QAction> done = actionTitled(menu, QStringLiteral("Done  "));
    QMenu *links = actionTitled(menu, QStringLiteral("Recent Links"))->menu();
    menu.popup(QPoint(40, 40));
    links->popup(QPoint(300, 60));
    ASSERT_TRUE(waitUntil([&] { return links->isVisible(); }));
    for (const auto &[seconds, time] : {std::pair{7, "0:07"}, std::pair{1, "0:08"}}) {
        rig.now = rig.now.addSecs(seconds);
        ASSERT_TRUE(waitUntil([&] { return done && done->text() == QStringLiteral("Done  ") + time; })) << time;
        EXPECT_EQ(actionTitled(menu, QStringLiteral("Recent Links"))->menu(), links);
        EXPECT_TRUE(links->isVisible() && menu.isVisible());
    }
    // The new handler is in place: Done still stops the recording.
    done->trigger();
    ASSERT_TRUE(waitUntil([&] { return state.phase().is(Phase::Kind::idle); }));
}

} // namespace
