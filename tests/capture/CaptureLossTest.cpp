// What the recorder does when a source goes away mid-recording.
#include "capture/ScreenRecorder.h"

#include "Await.h"
#include "FakeCapture.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

TEST(CaptureLoss, MicrophoneLossKeepsTheScreenRecordingAndScreenLossEndsIt)
{
    struct Case {
        const char *name;
        bool screen; // else the microphone goes
    };
    for (const Case c : {Case{"microphone", false}, Case{"screen", true}}) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        auto platform = std::make_shared<FakeCapturePlatform>();
        platform->list = {DisplayInfo{7, QStringLiteral("out"), QRect(0, 0, 640, 480), 640, 480}};
        ScreenRecorder::Options options;
        options.choosePreset = [](PixelSize) { return QStringLiteral("ultrafast"); };
        options.makeWriter = [platform](const WriterSettings &settings) {
            return std::make_unique<FakeWriter>(settings, FakeWriter::Finish::ok, QString(), platform->events);
        };
        ScreenRecorder recorder(platform, options);
        QStringList lost;
        recorder.setOnLost([&](const QString &why) { lost << why; });
        const QString file = dir.filePath(QStringLiteral("loss.mp4"));
        run(recorder.start(file, nullptr, true, std::nullopt));

        const QString why = QStringLiteral("The %1 went away.").arg(QString::fromLatin1(c.name));
        platform->events->reportFailure(why, !c.screen);
        settle();
        EXPECT_EQ(lost, c.screen ? QStringList{why} : QStringList{});
        // A loss reported twice is news once.
        if (c.screen) {
            platform->events->reportFailure(why);
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
        EXPECT_EQ(platform->events->finishCalls, 1) << "the file is closed either way";
    }
}

} // namespace
