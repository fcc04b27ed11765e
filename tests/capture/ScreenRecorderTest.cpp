// The recorder over a capture platform and writer the test steers: which
// display it records and at what size, and how starts, stops, losses and
// failures end.
#include "capture/ScreenRecorder.h"
#include "capture/BubbleGeometry.h"

#include "Await.h"
#include "PrivateHome.h"
#include "QtPrinters.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <tuple>

namespace {

// What the fakes did, kept by the test: the recorder releases the fakes
// themselves on another thread once a recording ends.
struct FakeEvents {
    std::atomic<int> sourcesStarted = 0, sourcesStopped = 0, microphonesStarted = 0, finishCalls = 0,
                     cameraPictures = 0;
    // What a capture thread calls when the display (or the sound server) goes away.
    CaptureFailureHandler screenFailure, microphoneFailure;
};

// The screen and the microphone in one: started on the main thread, stopped on another.
class FakeSource final : public ScreenSource, public Microphone {
public:
    explicit FakeSource(std::shared_ptr<FakeEvents> events) : events(std::move(events)) {}
    void start(std::function<void(VideoFrame)>, CaptureFailureHandler onFailure) override
    {
        events->screenFailure = std::move(onFailure);
        ++events->sourcesStarted;
    }
    void start(std::function<void(AudioChunk)>, CaptureFailureHandler onFailure) override
    {
        events->microphoneFailure = std::move(onFailure);
        ++events->microphonesStarted;
    }
    void stop() override { ++events->sourcesStopped; }
    int64_t framesCaptured() const override { return 0; }
    int sampleRate() const override { return 48000; }
    int channels() const override { return 1; }
    std::shared_ptr<FakeEvents> events;
};

class FakeCapturePlatform final : public CapturePlatform {
public:
    QList<DisplayInfo> displays() override { return list; }
    std::optional<quint32> displayIdOf(QScreen *, const QList<DisplayInfo> &) override { return std::nullopt; }
    std::unique_ptr<ScreenSource> openScreen(const DisplayInfo &display) override
    {
        opened = display;
        return std::make_unique<FakeSource>(events);
    }
    std::unique_ptr<Microphone> openMicrophone() override
    {
        if (microphoneError)
            throw *microphoneError;
        return std::make_unique<FakeSource>(events);
    }

    QList<DisplayInfo> list;
    std::optional<RecorderError> microphoneError;
    std::optional<DisplayInfo> opened;
    std::shared_ptr<FakeEvents> events = std::make_shared<FakeEvents>();
};

// A writer whose finish the test decides: at once, with an error, or never.
// It draws a bubble when given a spot, counting the camera pictures.
class FakeWriter final : public RecordingWriter {
public:
    enum class Finish { ok, error, never };
    FakeWriter(bool bubble, Finish finish, std::shared_ptr<FakeEvents> events)
        : bubble(bubble), finishing(finish), events(std::move(events))
    {
    }
    void videoFrame(VideoFrame) override {}
    void audioChunk(AudioChunk) override {}
    void cameraFrame(VideoFrame) override { ++events->cameraPictures; }
    bool drawsBubble() const override { return bubble; }
    void finish(int64_t, std::function<void(std::optional<QString>)> done) override
    {
        ++events->finishCalls;
        if (finishing != Finish::never)
            done(finishing == Finish::error ? std::optional(QStringLiteral("The disk is full.")) : std::nullopt);
    }
    bool bubble;
    Finish finishing;
    std::shared_ptr<FakeEvents> events;
};

class ScreenRecorderTest : public ::testing::Test {
protected:
    ScreenRecorderTest()
    {
        platform->list = {DisplayInfo{7, "a", {0, 0, 1920, 1080}, 1920, 1080},
                          DisplayInfo{9, "b", {0, 0, 1512, 982}, 1512, 982}};
    }
    // With `finish` unset, the real writers.
    std::unique_ptr<ScreenRecorder> makeRecorder(std::optional<FakeWriter::Finish> finish = FakeWriter::Finish::ok,
                                                 double timeoutSeconds = 10.0)
    {
        ScreenRecorder::Options options;
        options.finishTimeoutSeconds = timeoutSeconds;
        options.choosePreset = [](PixelSize) { return QStringLiteral("ultrafast"); };
        if (finish)
            options.makeWriter = [this, finish](const WriterSettings &settings) {
                writerSettings = settings;
                return std::make_unique<FakeWriter>(settings.bubbleSpot.has_value(), *finish, platform->events);
            };
        return std::make_unique<ScreenRecorder>(platform, options);
    }
    QString output() const { return dir.filePath(QStringLiteral("Mivra test.mp4")); }
    // The display recorded, what the writer was set up for, and what the fakes saw.
    std::string state() const
    {
        const FakeEvents &e = *platform->events;
        const WriterSettings &w = writerSettings;
        std::ostringstream s;
        s << "display " << (platform->opened ? platform->opened->id : 0) << ", sound " << w.audioSampleRate << "x"
          << w.audioChannels << ", bubble " << (w.bubbleSpot ? rawValue(*w.bubbleSpot).toStdString() : "none")
          << "; screens " << e.sourcesStarted << "/" << e.sourcesStopped << ", microphones " << e.microphonesStarted
          << ", camera pictures " << e.cameraPictures << ", finishes " << e.finishCalls;
        return s.str();
    }

    PrivateHome home{PrivateHome::thisProcess};
    QTemporaryDir dir;
    std::shared_ptr<FakeCapturePlatform> platform = std::make_shared<FakeCapturePlatform>();
    WriterSettings writerSettings;
};

TEST_F(ScreenRecorderTest, WithoutAScreenRecordsTheFirstDisplayAtScaleTwoStopsOnceAndSaysSoAndStartsAgainClean)
{
    auto recorder = makeRecorder();
    EXPECT_EQ(failureText(recorder->stop()), QStringLiteral("Not recording."));
    // Two pixels a point, capped: 1920 points make 2560 pixels, the bubble's
    // points too.
    run(recorder->start(output(), nullptr, false, BubbleSpot::topRight));
    for (int i = 0; i < 2; ++i)
        recorder->cameraIntake()(VideoFrame{}); // throws when there is nothing to draw into
    const RecordingResult result = run(recorder->stop());
    EXPECT_EQ(state(),
              "display 7, sound 0x0, bubble topRight; screens 1/1, microphones 0, camera pictures 2, finishes 1");
    EXPECT_EQ(std::tuple(result.filePath, writerSettings.size, result.width, result.height),
              std::tuple(output(), PixelSize{2560, 1440}, 2560, 1440));
    EXPECT_EQ(BubbleGeometry::forPointScale(writerSettings.pointScale).diameter, 293);
    EXPECT_FALSE(recorder->cameraIntake()) << "nothing to draw into once stopped";
    EXPECT_EQ(failureText(recorder->stop()), QStringLiteral("Not recording."));

    // A failure the first recording's screen reports late does not spoil this one.
    const CaptureFailureHandler first = platform->events->screenFailure;
    run(recorder->start(output(), nullptr, true, std::nullopt));
    first(QStringLiteral("late"));
    settle();
    EXPECT_EQ(failureText(recorder->stop()), QString());
}

TEST_F(ScreenRecorderTest, LossesAndWriterFailuresAreToldByStopOnceTheFileIsClosed)
{
    const struct {
        const char *name;
        FakeWriter::Finish finish;
        const char *screenLost, *microphoneLost; // reported mid-recording, twice
        QString stopSays;
    } cases[] = {
        {"writer fails", FakeWriter::Finish::error, nullptr, nullptr, QStringLiteral("The disk is full.")},
        {"screen lost", FakeWriter::Finish::ok, "The screen went away.", nullptr,
         QStringLiteral("The screen went away.")},
        {"microphone lost: the screen goes on", FakeWriter::Finish::ok, nullptr, "The microphone went away.", {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        platform->events = std::make_shared<FakeEvents>();
        auto recorder = makeRecorder(c.finish);
        QStringList lost;
        recorder->setOnLost([&](const QString &why) { lost << why; });
        run(recorder->start(output(), nullptr, true, std::nullopt));
        for (int i = 0; i < 2; ++i) {
            if (c.screenLost)
                platform->events->screenFailure(QString::fromLatin1(c.screenLost));
            if (c.microphoneLost)
                platform->events->microphoneFailure(QString::fromLatin1(c.microphoneLost));
            settle(); // the report hops to the main thread
        }
        // A loss reported twice is news once; stop, not the loss, ends it.
        EXPECT_EQ(lost.join(QLatin1Char('|')).toStdString(), c.screenLost ? c.screenLost : "");
        EXPECT_TRUE(recorder->isRecording());
        EXPECT_EQ(failureText(recorder->stop()), c.stopSays);
        EXPECT_EQ(platform->events->finishCalls, 1) << "the file is closed either way";
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
    EXPECT_EQ(std::tuple(result.filePath, recorder->finished()), std::tuple(output(), false));
}

TEST_F(ScreenRecorderTest, StartErrorsArePassedUpAndAnOldFileIsDeleted)
{
    auto recorder = makeRecorder();
    platform->list.clear();
    EXPECT_TRUE(failureText(recorder->start(output(), nullptr, false, std::nullopt))
                    .startsWith(QStringLiteral("No display available to record.")));
    platform->list = {DisplayInfo{1, "a", {0, 0, 800, 600}, 800, 600}};
    platform->microphoneError = RecorderError::failed(QStringLiteral("The microphone cannot be recorded: no server."));
    EXPECT_EQ(failureText(recorder->start(output(), nullptr, true, std::nullopt)),
              QStringLiteral("The microphone cannot be recorded: no server."));
    EXPECT_FALSE(recorder->isRecording());

    ASSERT_TRUE(QFile(output()).open(QIODevice::WriteOnly)); // an old file of that name
    run(recorder->start(output(), nullptr, false, std::nullopt));
    EXPECT_FALSE(QFile::exists(output()));
}

TEST_F(ScreenRecorderTest, AScreenThatSendsNothingIsAnErrorOfEitherWriter)
{
    using Spot = std::optional<BubbleSpot>;
    for (const auto &[spot, says] :
         {std::pair{Spot(BubbleSpot::bottomLeft), "Nothing was recorded: the screen never sent a picture."},
          std::pair{Spot(), "Nothing was recorded: no picture of the screen arrived."}}) {
        auto recorder = makeRecorder(std::nullopt);
        run(recorder->start(output(), nullptr, false, spot));
        // A spot takes the compositing writer, the one with a camera intake.
        // Neither leaves a file behind.
        const bool compositing = bool(recorder->cameraIntake());
        const QString said = failureText(recorder->stop());
        EXPECT_EQ(std::tuple(compositing, said, QFile::exists(output())),
                  std::tuple(spot.has_value(), QString::fromLatin1(says), false));
    }
    EXPECT_TRUE(failureText(makeRecorder(std::nullopt)->start("/nonexistent-folder/x.mp4", nullptr, false, {}))
                    .startsWith("The recording could not be written to /nonexistent-folder/x.mp4"));
}

} // namespace
