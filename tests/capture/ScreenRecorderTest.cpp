#include "capture/ScreenRecorder.h"
#include "Await.h"
#include "FakeCapture.h"
#include "PrivateHome.h"
#include "base/Diag.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

DisplayInfo display(quint32 id, double widthPoints, double heightPoints)
{
    return DisplayInfo{id, QStringLiteral("out-%1").arg(id), QRect(0, 0, int(widthPoints), int(heightPoints)),
                       widthPoints, heightPoints};
}

class ScreenRecorderTest : public ::testing::Test {
protected:
    ScreenRecorderTest() { platform->list = {display(7, 1920, 1080), display(9, 1512, 982)}; }
    std::unique_ptr<ScreenRecorder> makeRecorder(FakeWriter::Finish finish = FakeWriter::Finish::ok,
                                                 double timeoutSeconds = 10.0, QString errorText = {})
    {
        ScreenRecorder::Options options;
        options.finishTimeoutSeconds = timeoutSeconds;
        options.choosePreset = [](PixelSize) { return QStringLiteral("ultrafast"); };
        options.makeWriter = [this, finish, errorText](const WriterSettings &settings) {
            writerSettings = settings;
            return std::make_unique<FakeWriter>(settings, finish, errorText, platform->events);
        };
        return std::make_unique<ScreenRecorder>(platform, options);
    }
    QString output() const { return dir.filePath(QStringLiteral("Mivra test.mp4")); }

    PrivateHome home{PrivateHome::thisProcess};
    QTemporaryDir dir;
    std::shared_ptr<FakeCapturePlatform> platform = std::make_shared<FakeCapturePlatform>();
    WriterSettings writerSettings;
    FakeEvents &events() { return *platform->events; }
};

TEST_F(ScreenRecorderTest, WithoutAScreenRecordsTheFirstDisplayAtScaleTwoAndSaysSo)
{
    // The log's place is fixed by the first test that logged; it may be gone.
    QDir().mkpath(QFileInfo(Diag::path()).path());
    auto recorder = makeRecorder();
    run(recorder->start(output(), nullptr, false, BubbleSpot::topRight));
    ASSERT_TRUE(platform->opened);
    EXPECT_EQ(platform->opened->id, 7u);
    EXPECT_EQ(recorder->size(), (PixelSize{2560, 1440}));
    EXPECT_EQ(writerSettings.size, (PixelSize{2560, 1440}));
    EXPECT_EQ(writerSettings.audioSampleRate, 0);
    EXPECT_EQ(events().sourcesStarted, 1);
    run(recorder->start(output(), nullptr, true, std::nullopt));
    QFile log(Diag::path());
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(log.readAll());
    EXPECT_TRUE(text.contains(" recording display 7 at 2560x1440, mic=false, bubble=topRight\n")) << text.toStdString();
    EXPECT_TRUE(text.contains(" recording display 7 at 2560x1440, mic=true, bubble=captured\n"));
}

TEST_F(ScreenRecorderTest, RecordsTheDisplayOfTheGivenScreenAtItsScale)
{
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        GTEST_SKIP() << "No Qt screen (no DISPLAY).";
    platform->screenDisplayId = 9;
    auto recorder = makeRecorder();
    run(recorder->start(output(), screen, true, std::nullopt));
    EXPECT_EQ(platform->opened->id, 9u);
    EXPECT_EQ(recorder->size(), videoSizeFor(1512, 982, screen->devicePixelRatio()));
    EXPECT_EQ(writerSettings.audioSampleRate, 48000);
    EXPECT_EQ(writerSettings.audioChannels, 1);
    EXPECT_EQ(events().microphonesStarted, 1);
}

TEST_F(ScreenRecorderTest, StopReturnsTheResultOnlyWhileRecording)
{
    auto recorder = makeRecorder();
    EXPECT_EQ(failureText(recorder->stop()), QStringLiteral("Not recording."));
    run(recorder->start(output(), nullptr, false, std::nullopt));
    const RecordingResult result = run(recorder->stop());
    EXPECT_EQ(result.filePath, output());
    EXPECT_EQ(result.width, 2560);
    EXPECT_EQ(result.height, 1440);
    EXPECT_EQ(result.durationMs, 0); // the fake wrote no file
    EXPECT_EQ(events().finishCalls, 1);
    EXPECT_EQ(events().sourcesStopped, 1);
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_EQ(failureText(recorder->stop()), QStringLiteral("Not recording."));
}

TEST_F(ScreenRecorderTest, CaptureAndWriterFailuresAreReportedByStopAndTheFileStillCloses)
{
    const struct {
        FakeWriter::Finish finish;
        const char *captureFailure; // reported mid-recording, if any
        const char *said;
    } cases[] = {{FakeWriter::Finish::ok, "The X display went away.", "The X display went away."},
                 {FakeWriter::Finish::error, nullptr, "The disk is full."}};
    for (const auto &c : cases) {
        platform->events = std::make_shared<FakeEvents>();
        auto recorder = makeRecorder(c.finish, 10.0, QStringLiteral("The disk is full."));
        run(recorder->start(output(), nullptr, false, std::nullopt));
        if (c.captureFailure) {
            events().reportFailure(QString::fromLatin1(c.captureFailure));
            QCoreApplication::processEvents(); // the report hops to the main thread
            EXPECT_TRUE(recorder->isRecording());
        }
        EXPECT_EQ(failureText(recorder->stop()), QString::fromLatin1(c.said));
        EXPECT_EQ(events().finishCalls, 1);
        EXPECT_FALSE(recorder->isRecording());
    }
}

TEST_F(ScreenRecorderTest, AWriterThatNeverFinishesTimesOutAndStopSucceeds)
{
    auto recorder = makeRecorder(FakeWriter::Finish::never, 0.3);
    run(recorder->start(output(), nullptr, false, std::nullopt));
    QElapsedTimer timer;
    timer.start();
    const RecordingResult result = run(recorder->stop());
    EXPECT_GE(timer.elapsed(), 290);
    EXPECT_EQ(result.filePath, output());
    EXPECT_FALSE(recorder->finished());
    EXPECT_FALSE(recorder->isRecording());
}

TEST_F(ScreenRecorderTest, StartErrorsArePassedUpAndAnOldFileIsDeleted)
{
    auto recorder = makeRecorder();
    platform->list.clear();
    EXPECT_TRUE(failureText(recorder->start(output(), nullptr, false, std::nullopt))
                    .startsWith(QStringLiteral("No display available to record.")));
    platform->list = {display(1, 800, 600)};
    platform->microphoneError = RecorderError::failed(QStringLiteral("The microphone cannot be recorded: no server."));
    EXPECT_EQ(failureText(recorder->start(output(), nullptr, true, std::nullopt)),
              QStringLiteral("The microphone cannot be recorded: no server."));
    EXPECT_FALSE(recorder->isRecording());

    QFile old(output());
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("stale");
    old.close();
    run(recorder->start(output(), nullptr, false, std::nullopt));
    EXPECT_FALSE(QFile::exists(output()));
}

TEST_F(ScreenRecorderTest, AFailureFromAnEarlierRecordingDoesNotSpoilTheNextOne)
{
    auto recorder = makeRecorder();
    run(recorder->start(output(), nullptr, false, std::nullopt));
    CaptureFailureHandler first = events().lastFailureHandler;
    run(recorder->stop());
    run(recorder->start(output(), nullptr, false, std::nullopt));
    first(QStringLiteral("late"));
    QCoreApplication::processEvents();
    EXPECT_NO_THROW(run(recorder->stop()));
}

} // namespace
