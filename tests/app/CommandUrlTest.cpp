#include "support/AppStateRig.h"

#include "app/CommandUrl.h"

#include <gtest/gtest.h>

namespace {

using Command = CommandUrl::Command;

TEST(CommandUrlParse, HostNamesTheCommandAndTheQueryIsPlainText)
{
    const struct {
        const char *url;
        std::optional<Command> command; // none: ignored
        bool flag;
    } cases[] = {
        {"mivra://record", Command::record, false},
        {"mivra://record?silent=1", Command::record, true},
        {"mivra://record?silent=10", Command::record, true},
        {"mivra://record?a=b&silent=1", Command::record, true},
        {"mivra://record?silent=0", Command::record, false},
        {"MIVRA://Record", Command::record, false},
        {"mivra://stop", Command::stop, false},
        {"mivra://discard", Command::discard, false},
        {"mivra://show", Command::show, false},
        {"mivra://demo", Command::demo, true},
        {"mivra://demo?", Command::demo, true},
        {"mivra://demo?state=off", Command::demo, false},
        {"mivra://demo?mode=offline", Command::demo, false},
        {"mivra://demo?off", Command::demo, false},
        {"mivra://upload", std::nullopt, false},
        {"mivra:record", std::nullopt, false},
        {"mivra://", std::nullopt, false},
        {"https://record", std::nullopt, false},
        {"file:///record", std::nullopt, false},
    };
    for (const auto &c : cases) {
        const auto parsed = CommandUrl::parse(QUrl(QString::fromUtf8(c.url)));
        EXPECT_EQ(parsed ? std::pair(std::optional(parsed->command), parsed->flag) : std::pair(std::nullopt, false),
                  std::pair(c.command, c.flag))
            << c.url;
    }
}

TEST(CommandUrlHandling, HandledInOrderWithRecordingCommandsAsTheirOwnTasks)
{
    AppStateRig rig;
    AppState &state = rig.make();
    rig.mainWindow->state = MainWindowAccess::Presence::hidden;

    handleCommandUrls(state, {QUrl(QStringLiteral("mivra://record?silent=1")), QUrl(QStringLiteral("mivra://show")),
                              QUrl(QStringLiteral("mivra://nonsense")), QUrl(QStringLiteral("https://show"))});
    // "show" ran at once; the start follows once the handler has returned.
    EXPECT_EQ(*rig.journal, QStringList{"window.front"});
    EXPECT_TRUE(state.silentNext());
    EXPECT_TRUE(state.phase().is(Phase::Kind::idle));
    ASSERT_TRUE(waitUntil([&] { return state.phase().is(Phase::Kind::recording); }));
    EXPECT_EQ(rig.count("window.front"), 1);
    handleCommandUrls(state, {QUrl(QStringLiteral("mivra://stop"))});
    ASSERT_TRUE(waitUntil([&] { return state.phase().is(Phase::Kind::idle); }));
    EXPECT_EQ(rig.clipboard->text, QStringLiteral("https://share.test/v/v1"));
    EXPECT_TRUE(rig.urlOpener->opened.isEmpty()) << "silent";

    handleCommandUrls(state, {QUrl(QStringLiteral("mivra://record"))});
    EXPECT_FALSE(state.silentNext());
    ASSERT_TRUE(waitUntil([&] { return state.phase().is(Phase::Kind::recording); }));
    handleCommandUrls(state, {QUrl(QStringLiteral("mivra://discard"))});
    ASSERT_TRUE(waitUntil([&] { return state.phase().is(Phase::Kind::idle); }));
    EXPECT_EQ(rig.uploader->uploads, 1);

    handleCommandUrls(state, {QUrl(QStringLiteral("mivra://demo"))});
    EXPECT_TRUE(state.demoMode());
    handleCommandUrls(state, {QUrl(QStringLiteral("mivra://demo?state=off"))});
    EXPECT_FALSE(state.demoMode());
}

TEST(CommandUrlHandling, StopWhileStartingIsCarriedOutOnceRecording)
{
    AppStateRig rig;
    AppState &state = rig.make();
    // Both in one launch, as `mivra mivra://record mivra://stop` sends them.
    rig.recorder->startStep.hold = true;
    handleCommandUrls(state, {QUrl(QStringLiteral("mivra://record?silent=1")), QUrl(QStringLiteral("mivra://stop"))});
    ASSERT_TRUE(waitUntil([&] { return rig.count("recorder.start spot=bottomLeft mic=1") == 1; }));
    settle();
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

} // namespace
