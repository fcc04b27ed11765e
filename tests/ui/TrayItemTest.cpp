#include "XEmbedTrayStub.h"

#include "support/AppStateRig.h"
#include "Await.h"

#include "ui/TrayItem.h"

#include <QGuiApplication>
#include <QSystemTrayIcon>
#include <gtest/gtest.h>

namespace {

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
    EXPECT_TRUE(tray.icon().isVisible());
    EXPECT_TRUE(waitUntil([&] { return trayManager.docked() >= 1; }));
    EXPECT_EQ(tray.shownIcon(), TrayLabel::Icon::app);
    EXPECT_EQ(tray.icon().toolTip(), QStringLiteral("Mivra Video"));

    rig.recorder->startStep.hold = true;
    auto start = state.startRecording();
    ASSERT_TRUE(waitUntil([&] { return tray.shownIcon() == TrayLabel::Icon::dottedCircle; }));
    EXPECT_EQ(tray.menu().actions()[2]->text(), QStringLiteral("Starting\u2026"));
    rig.recorder->startStep.release();
    run(std::move(start));
    rig.now = rig.now.addSecs(3725);
    // No text beside a tray icon: the time ticks in the tooltip and the menu.
    ASSERT_TRUE(waitUntil(
        [&] { return tray.icon().toolTip() == QStringLiteral("Mivra Video \u2013 recording 62:05"); }));
    EXPECT_EQ(tray.shownIcon(), TrayLabel::Icon::app);
    EXPECT_EQ(tray.menu().actions()[2]->text(), QStringLiteral("Done  62:05"));

    rig.uploader->uploadStep.hold = true;
    auto stop = state.stopRecording();
    ASSERT_TRUE(waitUntil([&] { return tray.shownIcon() == TrayLabel::Icon::upArrow; }));
    rig.uploader->uploadStep.release();
    run(std::move(stop));
    ASSERT_TRUE(waitUntil([&] { return tray.shownIcon() == TrayLabel::Icon::app; }));
    EXPECT_TRUE(tray.menu().actions().last()->text() == QStringLiteral("Quit Mivra Video"));
}

TEST(TrayItem, ChoosingAMenuItemThatRebuildsTheMenuIsSafe)
{
    AppStateRig rig;
    AppState &state = rig.make();
    TrayItem tray(state, {});
    // The check item's own action fires while its change rebuilds the menu.
    QAction *camera = tray.menu().actions()[4];
    ASSERT_EQ(camera->text(), QStringLiteral("Show Camera Bubble"));
    camera->trigger();
    EXPECT_FALSE(state.cameraEnabled());
    settle(10);
    EXPECT_FALSE(tray.menu().actions()[4]->isChecked());
}

} // namespace
