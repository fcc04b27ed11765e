// How a recording's cycle ends when something goes wrong: nothing left set,
// nothing dropped, no file left unnamed.
#include "support/AppStateRig.h"

#include "app/CommandUrl.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

using Kind = Phase::Kind;

TEST(CycleFaults, SilentStartCountsForItsOwnCycleOnly)
{
    const struct {
        const char *name;
        std::function<HeldStep &(AppStateRig &)> failing; // none: nothing fails
        bool discard;
    } ways[] = {
        {"start fails", [](AppStateRig &rig) -> HeldStep & { return rig.recorder->startStep; }, false},
        {"discarded", nullptr, true},
        {"stop fails", [](AppStateRig &rig) -> HeldStep & { return rig.recorder->stopStep; }, false},
        {"upload fails", [](AppStateRig &rig) -> HeldStep & { return rig.uploader->uploadStep; }, false},
    };
    for (const auto &way : ways) {
        SCOPED_TRACE(way.name);
        AppStateRig rig;
        AppState &state = rig.make();
        state.setSilentNext(true);
        if (way.failing)
            way.failing(rig).failure = QStringLiteral("Broken.");
        run(state.startRecording());
        run(way.discard ? state.discardRecording() : state.stopRecording());
        EXPECT_EQ(state.phase(), Phase::idle());
        EXPECT_FALSE(state.silentNext());
        if (way.failing)
            way.failing(rig).failure.reset();
        // The next menu recording opens its link again.
        run(state.startRecording());
        run(state.stopRecording());
        EXPECT_EQ(rig.urlOpener->opened.size(), 1);
    }
}

TEST(CycleFaults, ScreenLossEndsTheRecordingAtOnceAndKeepsTheFile)
{
    const std::optional<QString> stopFailures[] = {std::nullopt, QStringLiteral("The desktop stopped sharing.")};
    for (const auto &stopFailure : stopFailures) {
        AppStateRig rig;
        AppState &state = rig.make();
        run(state.startRecording());
        const QString file = rig.recorder->lastOutputPath;
        ASSERT_TRUE(rig.recorder->onLost);
        rig.recorder->stopStep.failure = stopFailure;
        rig.recorder->onLost(QStringLiteral("The desktop stopped sharing the screen during the recording."));
        ASSERT_TRUE(waitUntil([&] { return state.phase().is(Kind::idle); }));
        EXPECT_EQ(rig.count("recorder.stop"), 1);
        EXPECT_EQ(rig.count("upload"), 0);
        EXPECT_FALSE(state.clockRunning());
        EXPECT_EQ(state.lastError(),
                  QStringLiteral("The desktop stopped sharing the screen during the recording. Saved at ") + file);
        EXPECT_TRUE(QFile::exists(file));
    }
}

TEST(CycleFaults, QuitWaitsForTheFileWithABound)
{
    struct Case {
        const char *name;
        std::function<void(AppStateRig &)> reach; // holds the road in that phase
        std::function<void(AppStateRig &)> release;
    };
    const Case cases[] = {
        {"starting", [](AppStateRig &rig) { rig.recorder->startStep.hold = true; },
         [](AppStateRig &rig) { rig.recorder->startStep.release(); }},
        {"finishing",
         [](AppStateRig &rig) {
             run(rig.state->startRecording());
             rig.recorder->stopStep.hold = true;
             rig.uploader->uploadStep.hold = true;
         },
         [](AppStateRig &rig) { rig.recorder->stopStep.release(); }},
        {"uploading",
         [](AppStateRig &rig) {
             run(rig.state->startRecording());
             rig.uploader->uploadStep.hold = true;
         },
         [](AppStateRig &) {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        AppStateRig rig;
        AppState &state = rig.make();
        c.reach(rig);
        // The start or the stop is under way when Quit comes.
        auto road = rig.recorder->startStep.hold ? state.startRecording() : state.stopRecording();
        bool quit = false;
        auto quitting = state.finishForQuit().then([&] { quit = true; });
        settle();
        EXPECT_TRUE(state.quitting());
        if (!state.phase().is(Kind::uploading))
            EXPECT_FALSE(quit) << "quit before the file was closed";
        c.release(rig);
        ASSERT_TRUE(waitUntil([&] { return quit; }));
        EXPECT_EQ(rig.count("recorder.stop"), 1);
        EXPECT_TRUE(QFile::exists(rig.recorder->lastOutputPath));
        EXPECT_EQ(rig.uploader->uploads, 0);
    }

    // A stop that never ends holds the quit up only for the bound.
    AppStateRig rig;
    rig.timing.quitWaitMs = 20;
    AppState &state = rig.make();
    run(state.startRecording());
    rig.recorder->stopStep.hold = true;
    auto stopping = state.stopRecording();
    run(state.finishForQuit());
    EXPECT_TRUE(state.phase().is(Kind::finishing));
    EXPECT_TRUE(QFile::exists(rig.recorder->lastOutputPath));
}

} // namespace
