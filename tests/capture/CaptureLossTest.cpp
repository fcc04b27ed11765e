// What the recorder does when a source goes away mid-recording.
#include "capture/ScreenRecorder.h"

#include "Await.h"
#include "FakeCapture.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// A microphone whose sound server the test takes away.
class LosingMicrophone final : public Microphone {
public:
    explicit LosingMicrophone(CaptureFailureHandler *lose) : m_lose(lose) {}
    int sampleRate() const override { return 48000; }
    int channels() const override { return 1; }
    void start(std::function<void(AudioChunk)>, CaptureFailureHandler onFailure) override { *m_lose = onFailure; }
    void stop() override {}

private:
    CaptureFailureHandler *m_lose;
};

class LosingPlatform final : public CapturePlatform {
public:
    QList<DisplayInfo> displays() override { return inner.displays(); }
    std::optional<quint32> displayIdOf(QScreen *, const QList<DisplayInfo> &) override { return std::nullopt; }
    std::unique_ptr<ScreenSource> openScreen(const DisplayInfo &display) override { return inner.openScreen(display); }
    std::unique_ptr<Microphone> openMicrophone() override { return std::make_unique<LosingMicrophone>(&loseMic); }

    FakeCapturePlatform inner;
    CaptureFailureHandler loseMic;
};

TEST(CaptureLoss, MicrophoneLossKeepsTheScreenRecordingAndScreenLossEndsIt)
{
    struct Case {
        const char *name;
        bool screen; // else the microphone goes
    };
    for (const Case c : {Case{"microphone", false}, Case{"screen", true}}) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        auto platform = std::make_shared<LosingPlatform>();
        platform->inner.list = {DisplayInfo{7, QStringLiteral("out"), QRect(0, 0, 640, 480), 640, 480}};
        ScreenRecorder::Options options;
        options.choosePreset = [](PixelSize) { return QStringLiteral("ultrafast"); };
        options.makeWriter = [platform](const WriterSettings &settings) {
            return std::make_unique<FakeWriter>(settings, FakeWriter::Finish::ok, QString(), platform->inner.events);
        };
        ScreenRecorder recorder(platform, options);
        QStringList lost;
        recorder.setOnLost([&](const QString &why) { lost << why; });
        const QString file = dir.filePath(QStringLiteral("loss.mp4"));
        run(recorder.start(file, nullptr, true, std::nullopt));

        const QString why = QStringLiteral("The %1 went away.").arg(QString::fromLatin1(c.name));
        if (c.screen)
            platform->inner.events->reportFailure(why);
        else
            platform->loseMic(why);
        settle();
        EXPECT_EQ(lost, c.screen ? QStringList{why} : QStringList{});
        // A loss reported twice is news once.
        if (c.screen) {
            platform->inner.events->reportFailure(why);
            settle();
            EXPECT_EQ(lost.size(), 1);
        }

        QString stopFailure;
        try {
            const RecordingResult result = run(recorder.stop());
            EXPECT_EQ(result.filePath, file);
        } catch (const RecorderError &error) {
            stopFailure = error.description();
        }
        EXPECT_EQ(stopFailure, c.screen ? why : QString());
        EXPECT_EQ(platform->inner.events->finishCalls, 1) << "the file is closed either way";
    }
}

} // namespace
