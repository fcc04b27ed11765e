#include "support/AppStateRig.h"

#include "app/CommandUrl.h"

#include <gtest/gtest.h>

namespace {

using Command = CommandUrl::Command;

std::optional<CommandUrl> parsed(const char *text)
{
    return CommandUrl::parse(QUrl(QString::fromUtf8(text)));
}

TEST(CommandUrlParse, HostNamesTheCommandAndTheQueryIsPlainText)
{
    EXPECT_EQ(parsed("mivra://record")->command, Command::record);
    EXPECT_FALSE(parsed("mivra://record")->flag);
    EXPECT_TRUE(parsed("mivra://record?silent=1")->flag);
    EXPECT_TRUE(parsed("mivra://record?silent=10")->flag);
    EXPECT_TRUE(parsed("mivra://record?a=b&silent=1")->flag);
    EXPECT_FALSE(parsed("mivra://record?silent=0")->flag);
    EXPECT_EQ(parsed("MIVRA://Record")->command, Command::record);
    EXPECT_EQ(parsed("mivra://stop")->command, Command::stop);
    EXPECT_EQ(parsed("mivra://discard")->command, Command::discard);
    EXPECT_EQ(parsed("mivra://show")->command, Command::show);

    EXPECT_TRUE(parsed("mivra://demo")->flag);
    EXPECT_TRUE(parsed("mivra://demo?")->flag);
    EXPECT_FALSE(parsed("mivra://demo?state=off")->flag);
    EXPECT_FALSE(parsed("mivra://demo?mode=offline")->flag);
    EXPECT_FALSE(parsed("mivra://demo?off")->flag);
}

TEST(CommandUrlParse, OtherHostsAndSchemesAreIgnored)
{
    EXPECT_FALSE(parsed("mivra://upload"));
    EXPECT_FALSE(parsed("mivra:record"));
    EXPECT_FALSE(parsed("mivra://"));
    EXPECT_FALSE(parsed("https://record"));
    EXPECT_FALSE(parsed("file:///record"));
}

TEST(CommandUrlHandling, SilentThenNormalRecordUrls)
{
    AppStateRig rig;
    AppState &state = rig.make();

    handleCommandUrls(state, {QUrl(QStringLiteral("mivra://record?silent=1"))});
    EXPECT_TRUE(state.silentNext());
    // The start runs as its own task, after the handler returned.
    EXPECT_TRUE(state.phase().is(Phase::Kind::idle));
    ASSERT_TRUE(waitUntil([&] { return state.phase().is(Phase::Kind::recording); }));
    handleCommandUrls(state, {QUrl(QStringLiteral("mivra://stop"))});
    ASSERT_TRUE(waitUntil([&] { return state.phase().is(Phase::Kind::idle); }));
    EXPECT_EQ(rig.clipboard->text, QStringLiteral("https://share.test/v/v1"));
    EXPECT_TRUE(rig.urlOpener->opened.isEmpty());

    handleCommandUrls(state, {QUrl(QStringLiteral("mivra://record"))});
    EXPECT_FALSE(state.silentNext());
    ASSERT_TRUE(waitUntil([&] { return state.phase().is(Phase::Kind::recording); }));
    handleCommandUrls(state, {QUrl(QStringLiteral("mivra://stop"))});
    ASSERT_TRUE(waitUntil([&] { return state.phase().is(Phase::Kind::idle); }));
    EXPECT_EQ(rig.urlOpener->opened, QList<QUrl>({QUrl(QStringLiteral("https://share.test/v/v2"))}));
}

TEST(CommandUrlHandling, HandledInOrderWithRecordingCommandsAsTheirOwnTasks)
{
    AppStateRig rig;
    AppState &state = rig.make();
    rig.mainWindow->state = MainWindowAccess::Presence::hidden;

    handleCommandUrls(state, {QUrl(QStringLiteral("mivra://record")), QUrl(QStringLiteral("mivra://show")),
                              QUrl(QStringLiteral("mivra://nonsense")), QUrl(QStringLiteral("https://show"))});
    // "show" ran at once; the start follows once the handler has returned.
    EXPECT_EQ(rig.journal->value(0), QStringLiteral("window.front"));
    ASSERT_TRUE(waitUntil([&] { return state.phase().is(Phase::Kind::recording); }));
    EXPECT_EQ(rig.count("window.front"), 1);

    handleCommandUrls(state, {QUrl(QStringLiteral("mivra://discard"))});
    ASSERT_TRUE(waitUntil([&] { return state.phase().is(Phase::Kind::idle); }));
    EXPECT_EQ(rig.uploader->uploads, 0);
}

TEST(CommandUrlHandling, StopWhileStartingIsCarriedOutOnceRecording)
{
    AppStateRig rig;
    AppState &state = rig.make();
    rig.recorder->startStep.hold = true;
    handleCommandUrls(state, {QUrl(QStringLiteral("mivra://record?silent=1"))});
    ASSERT_TRUE(waitUntil([&] { return state.phase().is(Phase::Kind::starting); }));
    handleCommandUrls(state, {QUrl(QStringLiteral("mivra://stop"))});
    QCoreApplication::processEvents();
    EXPECT_TRUE(state.phase().is(Phase::Kind::starting));
    rig.recorder->startStep.release();
    ASSERT_TRUE(waitUntil([&] { return state.phase().is(Phase::Kind::idle); }));
    EXPECT_EQ(rig.count("recorder.stop"), 1);
    EXPECT_EQ(rig.uploader->uploads, 1);

    // A start that fails leaves nothing to stop.
    rig.recorder->startStep.hold = true;
    rig.recorder->startStep.failure = QStringLiteral("No display.");
    handleCommandUrls(state, {QUrl(QStringLiteral("mivra://record"))});
    ASSERT_TRUE(waitUntil([&] { return state.phase().is(Phase::Kind::starting); }));
    handleCommandUrls(state, {QUrl(QStringLiteral("mivra://discard"))});
    rig.recorder->startStep.release();
    ASSERT_TRUE(waitUntil([&] { return state.phase().is(Phase::Kind::idle); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(rig.count("recorder.stop"), 1);
}

TEST(CommandUrlHandling, DemoModeOnAndOff)
{
    AppStateRig rig;
    AppState &state = rig.make();
    handleCommandUrls(state, {QUrl(QStringLiteral("mivra://demo"))});
    EXPECT_TRUE(state.demoMode());
    handleCommandUrls(state, {QUrl(QStringLiteral("mivra://demo?state=off"))});
    EXPECT_FALSE(state.demoMode());
}

} // namespace
