#include "support/AppStateRig.h"
#include "support/TaskRunner.h"

#include "platform/MainWindowAccess.h"
#include "platform/TaskbarPresence.h"
#include "ui/MainWindowPlaceholder.h"

#include <QGuiApplication>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

using Presence = MainWindowAccess::Presence;

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

TEST(MainWindowAccess, RecordingMinimisesAndRestoresTheRealWindow)
{
    AppStateRig rig;
    rig.windowOverride = std::make_shared<QtMainWindowAccess>();
    AppState &state = rig.make();
    MainWindowPlaceholder window(state);
    window.show();
    ASSERT_TRUE(AppStateRig::waitUntil([&] { return rig.windowOverride->presence() == Presence::shown; }));

    runTask(state.startRecording());
    ASSERT_TRUE(state.phase().is(Phase::Kind::recording));
    EXPECT_TRUE(state.minimizedForRecording());
    EXPECT_EQ(rig.windowOverride->presence(), Presence::minimised);

    runTask(state.discardRecording());
    EXPECT_FALSE(state.minimizedForRecording());
    EXPECT_EQ(rig.windowOverride->presence(), Presence::shown);
    EXPECT_TRUE(window.isVisible());
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
