#include "support/AppStateRig.h"

#include "app/DateFormatters.h"

#include <QElapsedTimer>
#include <QFile>
#include <gtest/gtest.h>

#include <thread>

namespace {

using Kind = Phase::Kind;

// One AppState over doubles per case.
class AppStateCycle : public ::testing::Test {
protected:
    AppStateRig rig;
    AppState &state = rig.make();
};

// Runs one whole recording: start, then stop (upload) or discard.
void recordAndStop(AppState &state)
{
    run(state.startRecording());
    ASSERT_TRUE(state.phase().is(Kind::recording));
    run(state.stopRecording());
}

TEST(AppStateChoices, CameraMicrophoneAndBubbleShapeTheRecording)
{
    const struct {
        bool camera, microphone;
        BubbleSpot spot;
        QStringList journal; // then the camera's frames the recorder composites
    } cases[] = {
        {true,
         true,
         BubbleSpot::bottomLeft,
         {"bar.show hint=1", "bubble.capturable=0", "bubble.show", "bar.attach", "recorder.start spot=bottomLeft mic=1",
          "bubble.startFrames", "recorder.frame"}},
        {false, false, BubbleSpot::bottomLeft, {"bar.show hint=1", "recorder.start spot=none mic=0"}},
        // Shown on screen and captured with it, so nothing is composited.
        {true,
         true,
         BubbleSpot::asOnScreen,
         {"bar.show hint=1", "bubble.capturable=1", "bubble.show", "bar.attach", "recorder.start spot=none mic=1"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.journal.join(", ").toStdString());
        AppStateRig rig;
        rig.bubble->window = std::make_unique<QWindow>();
        AppState &state = rig.make();
        state.setCameraEnabled(c.camera);
        state.setMicEnabled(c.microphone);
        state.setBubbleInVideo(c.spot);
        run(state.startRecording());
        EXPECT_EQ(state.phase(), Phase::recording(rig.now));
        EXPECT_EQ(rig.bar->boundState, &state);
        EXPECT_EQ(rig.recorder->lastOutputPath, rig.recordingsFolder() + "/Mivra 2026-12-05 08.55.00.mp4");
        if (rig.bubble->frames)
            rig.bubble->frames(QVideoFrame());
        EXPECT_EQ(*rig.journal, c.journal);
    }
}

TEST_F(AppStateCycle, HintOnTheFirstTwoRecordingsOnly)
{
    QStringList shows;
    for (int i = 0; i < 3; ++i) {
        run(state.startRecording());
        shows.append(rig.journal->filter(QStringLiteral("bar.show")).last());
        run(state.discardRecording());
    }
    EXPECT_EQ(shows, QStringList({"bar.show hint=1", "bar.show hint=1", "bar.show hint=0"}));
    EXPECT_EQ(rig.store->intValue(QStringLiteral("recordingsStarted")), 3);
}

TEST(AppStateFailedStart, UndoesTheStartAndExplains)
{
    const struct {
        std::string step; // none: a plain file stands where the folder should be
        QString error;    // FOLDER: the recordings folder
        QStringList journalEnd;
    } cases[] = {
        {"show", "Mivra can't use the camera.", {"bubble.show", "bar.detach", "bubble.hide", "bar.hide"}},
        {"start",
         "No display available to record.",
         {"recorder.start spot=bottomLeft mic=1", "bar.detach", "bubble.hide", "bar.hide"}},
        {"",
         "Could not create the folder for recordings at FOLDER.",
         {"bubble.show", "bar.detach", "bubble.hide", "bar.hide"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.error.toStdString());
        AppStateRig rig;
        AppState &state = rig.make();
        if (c.step.empty())
            QFile(rig.home.path() + "/videos").open(QIODevice::WriteOnly);
        else
            rig.step(c.step).failure = c.error;
        run(state.startRecording());
        EXPECT_EQ(rig.outcome(), QString("idle error=\"%1\" links=0 uploads=0 file=gone clock=off")
                                     .arg(QString(c.error).replace("FOLDER", rig.recordingsFolder())));
        EXPECT_EQ(rig.journal->mid(rig.journal->size() - c.journalEnd.size()), c.journalEnd);
        // A start that never reached recording does not count.
        EXPECT_EQ(rig.store->intValue(QStringLiteral("recordingsStarted")), std::nullopt);
    }
}

TEST_F(AppStateCycle, OverlappingRequestsAreIgnored)
{
    const auto pokeAll = [&] {
        run(state.startRecording());
        run(state.stopRecording());
        run(state.discardRecording());
    };

    // Nothing to stop, discard or finish for a quit while idle.
    run(state.stopRecording());
    run(state.discardRecording());
    run(state.finishForQuit());
    EXPECT_TRUE(rig.journal->isEmpty());

    // Every call is counted: a poke that went through shows at the end.
    rig.recorder->startStep.hold = true;
    auto start = state.startRecording();
    pokeAll();
    rig.recorder->startStep.release();
    run(std::move(start));
    run(state.startRecording());

    rig.recorder->stopStep.hold = true;
    auto stop = state.stopRecording();
    EXPECT_FALSE(state.clockRunning()) << "stopped as the finishing begins";
    pokeAll();

    rig.uploader->uploadStep.hold = true;
    rig.recorder->stopStep.release();
    ASSERT_TRUE(waitUntil([&] { return state.phase() == Phase::uploading(0, 0); }));
    pokeAll();
    EXPECT_EQ(
        std::tuple(rig.count("recorder.start spot=bottomLeft mic=1"), rig.count("recorder.stop"), rig.count("upload")),
        std::tuple(1, 1, 1));
    rig.uploader->uploadStep.release();
    run(std::move(stop));
    EXPECT_EQ(rig.outcome(), "idle error=\"\" links=1 uploads=1 file=gone clock=off");
}

TEST_F(AppStateCycle, UploadHandsTheLinkOverAndDeletesTheFileAfterTheThumbnail)
{
    run(state.startRecording());
    const QString file = rig.recorder->lastOutputPath;
    ASSERT_TRUE(QFile::exists(file));
    rig.journal->clear();
    run(state.stopRecording());

    EXPECT_EQ(rig.outcome(), "idle error=\"\" links=1 uploads=1 file=gone clock=off");
    EXPECT_EQ(*rig.journal, QStringList({"bar.detach", "bubble.stopFrames", "bubble.hide", "recorder.stop", "upload",
                                         "thumbs.make v1 file=1", "clipboard https://share.test/v/v1",
                                         "open https://share.test/v/v1", "sound Glass", "bar.hide"}));
    // No default chosen: the service's own default applies.
    const QString title = QStringLiteral("Recording ") + DateFormatters::titleText(rig.now);
    EXPECT_EQ(rig.uploader->lastUpload, file + " \"" + title + "\" 3000 ms 1280x720 keep default");
    EXPECT_EQ(state.recent(), QList<RecentLink>({{"v1", "https://share.test/v/v1", title, rig.now,
                                                  QDateTime::fromMSecsSinceEpoch(rig.uploader->expiresAtMs)}}));
    EXPECT_TRUE(rig.store->dataValue(QStringLiteral("recentLinks")).has_value());

    // A chosen lifetime goes with the next upload.
    run(state.chooseNewLifetime(Lifetime::ofSeconds(86400)));
    EXPECT_EQ(state.newVideoLifetimeSeconds(), 86400);
    recordAndStop(state);
    EXPECT_TRUE(rig.uploader->lastUpload.endsWith(" keep 86400")) << rig.uploader->lastUpload.toStdString();
}

TEST(AppStateFailedStop, ReturnsToIdleKeepsTheFileAndSaysWhy)
{
    const struct {
        std::string step;
        QString failure;
        QString error; // followed by " Saved at FILE"
        int uploads;
    } cases[] = {
        {"stop", "The recording could not be finished.", "The recording could not be finished.", 0},
        {"upload", "The service could not be reached.", "Upload failed: The service could not be reached.", 1},
        // A description without a full stop gets one.
        {"upload", "Server said 500", "Upload failed: Server said 500.", 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.failure.toStdString());
        AppStateRig rig;
        AppState &state = rig.make();
        rig.mainWindow->state = MainWindowAccess::Presence::shown;
        run(state.startRecording());
        rig.step(c.step).failure = c.failure;
        run(state.stopRecording());
        EXPECT_EQ(rig.outcome(), QString("idle error=\"%1 Saved at FILE\" links=0 uploads=%2 file=kept clock=off")
                                     .arg(c.error)
                                     .arg(c.uploads));
        EXPECT_EQ(rig.journal->mid(rig.journal->size() - 2), QStringList({"bar.hide", "window.restore"}));
    }
}

TEST_F(AppStateCycle, ProgressReportsCountOnlyWhileUploading)
{
    run(state.startRecording());
    rig.uploader->uploadStep.hold = true;
    auto stop = state.stopRecording();
    ASSERT_EQ(state.phase(), Phase::uploading(0, 0));

    // Reports come from the uploader's own threads.
    std::thread([progress = rig.uploader->progress] { progress(4000000, 8000000); }).join();
    EXPECT_EQ(state.phase(), Phase::uploading(0, 0)) << "applied on the main thread, not the caller's";
    EXPECT_TRUE(waitUntil([&] { return state.phase() == Phase::uploading(4000000, 8000000); }));

    rig.uploader->uploadStep.release();
    run(std::move(stop));
    ASSERT_EQ(state.phase(), Phase::idle());
    // A late report, already queued when the loop turns, changes nothing.
    std::thread([progress = rig.uploader->progress] { progress(8000000, 8000000); }).join();
    settle();
    EXPECT_EQ(state.phase(), Phase::idle());
}

TEST_F(AppStateCycle, DiscardDeletesTheFileWithoutUploading)
{
    run(state.startRecording());
    const QString file = rig.recorder->lastOutputPath;
    rig.journal->clear();
    run(state.discardRecording());
    EXPECT_EQ(rig.outcome(), "idle error=\"\" links=0 uploads=0 file=gone clock=off");
    EXPECT_EQ(*rig.journal,
              QStringList({"bar.detach", "bubble.stopFrames", "bubble.hide", "recorder.stop", "bar.hide"}));

    // A failing stop is not reported, and the file goes all the same.
    run(state.startRecording());
    rig.recorder->stopStep.failure = QStringLiteral("Could not stop.");
    run(state.discardRecording());
    EXPECT_EQ(rig.outcome(), "idle error=\"\" links=0 uploads=0 file=gone clock=off");
}

TEST_F(AppStateCycle, ElapsedTicksWhileRecordingOnly)
{
    run(state.startRecording());
    rig.now = rig.now.addSecs(3725);
    EXPECT_TRUE(waitUntil([&] { return state.elapsed() == QStringLiteral("62:05"); }));
    run(state.stopRecording());

    run(state.startRecording());
    EXPECT_EQ(state.elapsed(), QStringLiteral("0:00"));
}

TEST_F(AppStateCycle, MinimisedForTheRecordingAndRestoredAfter)
{
    rig.mainWindow->state = MainWindowAccess::Presence::shown;
    run(state.startRecording());
    EXPECT_EQ(rig.journal->indexOf("window.minimise") + 1,
              rig.journal->indexOf("recorder.start spot=bottomLeft mic=1"));
    run(state.stopRecording());
    EXPECT_EQ(rig.journal->last(), QStringLiteral("window.restore"));

    // A start that fails brings it back too.
    rig.recorder->startStep.failure = QStringLiteral("No display available to record.");
    run(state.startRecording());
    EXPECT_EQ(rig.count("window.restore"), 2);
    EXPECT_FALSE(state.minimizedForRecording());
    rig.recorder->startStep.failure.reset();

    // Hidden or absent windows, and any window in demo mode, are left alone.
    for (auto presence :
         {MainWindowAccess::Presence::hidden, MainWindowAccess::Presence::absent, MainWindowAccess::Presence::shown}) {
        rig.mainWindow->state = presence;
        state.setDemoMode(presence == MainWindowAccess::Presence::shown);
        rig.journal->clear();
        recordAndStop(state);
        EXPECT_FALSE(state.minimizedForRecording());
        EXPECT_EQ(rig.count("window.minimise") + rig.count("window.restore"), 0);
    }
}

TEST(AppStateMinimiseFallback, ResumesWhenTheWindowManagerIsSilent)
{
    AppStateRig rig;
    rig.timing.minimiseFallbackMs = 60;
    AppState &state = rig.make();
    rig.mainWindow->state = MainWindowAccess::Presence::shown;
    rig.mainWindow->confirms = false;
    QElapsedTimer timer;
    timer.start();
    auto start = state.startRecording();
    EXPECT_EQ(rig.count("recorder.start spot=bottomLeft mic=1"), 0);
    run(std::move(start));
    EXPECT_GE(timer.elapsed(), 60);
    EXPECT_TRUE(state.phase().is(Kind::recording));
}

TEST_F(AppStateCycle, CopyAndOpenOpensWebLinksOnly)
{
    state.copyAndOpen(RecentLink{QStringLiteral("a"), QStringLiteral("file:///etc/passwd")});
    state.copyAndOpen(RecentLink{QStringLiteral("b"), QStringLiteral("not a url at all")});
    EXPECT_EQ(rig.clipboard->text, QStringLiteral("not a url at all"));
    EXPECT_TRUE(rig.urlOpener->opened.isEmpty());
    state.copyAndOpen(RecentLink{QStringLiteral("c"), QStringLiteral("https://share.test/v/c")});
    EXPECT_EQ(rig.urlOpener->opened.size(), 1);
}

TEST_F(AppStateCycle, ShowMainRaisesOrOpens)
{
    int opened = 0;
    state.showMain(); // nothing to show, nothing to open with
    state.setOpenMain([&] { ++opened; });
    state.showMain();
    EXPECT_EQ(opened, 1);
    rig.mainWindow->state = MainWindowAccess::Presence::minimised;
    state.showMain();
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(rig.count("window.front"), 1);
}

TEST_F(AppStateCycle, FailedLinkEditSetsLastError)
{
    recordAndStop(state);
    rig.uploader->error = QStringLiteral("The service could not be reached.");
    run(state.deleteLink(state.recent().front()));
    EXPECT_EQ(state.lastError(), QStringLiteral("Could not delete: The service could not be reached."));
}

TEST_F(AppStateCycle, SwitchesPersistAndNotifyOnlyOnChange)
{
    QStringList changed;
    QObject::connect(&state, &AppState::cameraEnabledChanged, [&] { changed << "camera"; });
    QObject::connect(&state, &AppState::demoModeChanged, [&] { changed << "demo"; });
    state.setCameraEnabled(false);
    state.setShowInDock(false);
    state.setDemoMode(false);
    state.setDemoMode(true);
    EXPECT_EQ(changed, QStringList({"camera", "demo"}));
    // Camera stored, taskbar entry gone, demo mode for this run only.
    EXPECT_EQ(
        std::tuple(rig.store->boolValue("cameraEnabled"), rig.taskbar->value, rig.store->values.contains("demoMode")),
        std::tuple(false, false, false));
}

TEST_F(AppStateCycle, RefreshesWhenCreatedAndWhenActivated)
{
    EXPECT_TRUE(waitUntil([&] { return rig.uploader->calls.count("list") == 1; }));
    if (auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        Q_EMIT app->applicationStateChanged(Qt::ApplicationActive);
        EXPECT_TRUE(waitUntil([&] { return rig.uploader->calls.count("list") == 2; }));
    }
}

} // namespace
