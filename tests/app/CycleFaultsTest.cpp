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
    // The step that fails, or none when the recording is discarded.
    for (const std::string failing : {"start", "", "stop", "upload"}) {
        SCOPED_TRACE(failing);
        AppStateRig rig;
        AppState &state = rig.make();
        state.setSilentNext(true);
        if (!failing.empty())
            rig.step(failing).failure = QStringLiteral("Broken.");
        run(state.startRecording());
        run(failing.empty() ? state.discardRecording() : state.stopRecording());
        EXPECT_EQ(state.phase(), Phase::idle());
        EXPECT_FALSE(state.silentNext());
        if (!failing.empty())
            rig.step(failing).failure.reset();
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
        ASSERT_TRUE(rig.recorder->onLost);
        rig.recorder->stopStep.failure = stopFailure;
        rig.recorder->onLost(QStringLiteral("The desktop stopped sharing the screen during the recording."));
        ASSERT_TRUE(waitUntil([&] { return state.phase().is(Kind::idle); }));
        EXPECT_EQ(rig.count("recorder.stop"), 1);
        EXPECT_EQ(rig.outcome(), "idle error=\"The desktop stopped sharing the screen during the recording. Saved at "
                                 "FILE\" links=0 uploads=0 file=kept clock=off");
    }
}

TEST(CycleFaults, QuitWaitsForTheFileWithABound)
{
    // Quit comes while the start, the stop or the upload is under way.
    for (const std::string held : {"start", "stop", "upload"}) {
        SCOPED_TRACE(held);
        AppStateRig rig;
        AppState &state = rig.make();
        if (held != "start")
            run(state.startRecording());
        rig.step(held).hold = true;
        rig.uploader->uploadStep.hold = true;
        auto road = held == "start" ? state.startRecording() : state.stopRecording();
        bool quit = false;
        auto quitting = state.finishForQuit().then([&] { quit = true; });
        settle();
        EXPECT_TRUE(state.quitting());
        if (held != "upload") {
            EXPECT_FALSE(quit) << "quit before the file was closed";
            rig.step(held).release();
        }
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
