#include "Await.h"
#include "ChangingScreen.h"
#include "FfprobeReport.h"
#include "PrivateHome.h"
#include "PrivateXServer.h"
#include "TestSound.h"
#include "capture/ScreenRecorder.h"
#include "platform/capture/LinuxCapturePlatform.h"

#include <QCoroTimer>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QCoro::Task<> pause(int ms)
{
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setSingleShot(true);
    timer.start(ms);
    co_await timer;
}

class RecordingEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!server.ok())
            GTEST_SKIP() << "No Xvfb to record.";
    }
    PrivateXServer server{QSize(2560, 1600)};
    PrivateHome home{PrivateHome::thisProcess};
    QTemporaryDir dir;
};

TEST_F(RecordingEndToEnd, RecordsAChangingScreenWithSoundIntoAFileThatMatchesTheRecording)
{
    const bool withSound = haveTestSoundServer();
    std::optional<ToneFeed> tone;
    if (withSound)
        tone.emplace(10.0);
    X11TestScene scene;
    scene.addWindow(QRect(1200, 800, 600, 400), 0x707070); // a quiet place for the pointer
    scene.movePointer(1500, 1000);
    ChangingScreen changing(QRect(100, 100, 900, 600));

    auto platform = std::make_shared<LinuxCapturePlatform>();
    ScreenRecorder recorder(platform);
    const QString path = dir.filePath(QStringLiteral("Mivra recording.mp4"));
    // The application's screen is on the shared display; its scale (1.0) is
    // what counts, and its name matches no monitor here but the first.
    QScreen *screen = QGuiApplication::primaryScreen();
    run(recorder.start(path, screen, withSound, std::nullopt));
    QElapsedTimer recording;
    recording.start();
    run(pause(2000));
    const double recordedSeconds = double(recording.elapsed()) / 1000.0;
    const RecordingResult result = run(recorder.stop());

    const DisplayInfo display = platform->displays().first();
    const double scale = screen ? screen->devicePixelRatio() : kDefaultPointScale;
    const PixelSize expected = videoSizeFor(display.widthPoints, display.heightPoints, scale);
    EXPECT_EQ(result.width, expected.width);
    EXPECT_EQ(result.height, expected.height);
    EXPECT_EQ(result.filePath, path);

    const FfprobeReport report = ffprobe(path);
    ASSERT_TRUE(report.ok);
    EXPECT_EQ(report.video.value("codec_name").toString().toStdString(), "h264");
    EXPECT_EQ(report.video.value("width").toInt(), expected.width);
    EXPECT_EQ(report.video.value("height").toInt(), expected.height);
    // The file runs from the first picture, which a loaded machine may send late.
    EXPECT_LE(report.durationSeconds(), recordedSeconds + 0.1);
    EXPECT_GE(report.durationSeconds(), recordedSeconds - 0.6);
    EXPECT_NEAR(double(result.durationMs) / 1000.0, report.durationSeconds(), 0.002);
    // A changing screen gives well over the few pictures of a still one (the
    // rate itself is the benchmark's business).
    const int frames = countVideoFrames(path);
    EXPECT_GE(frames, int(recordedSeconds * 10)) << "pictures written: " << frames;
    if (withSound) {
        EXPECT_EQ(report.audio.value("codec_name").toString().toStdString(), "aac");
        EXPECT_NEAR(report.videoDurationSeconds(), report.audioDurationSeconds(), 0.05);
    }

    // The pointer is drawn into the pictures, over the quiet grey window.
    const QByteArray frame = decodeFrameBgrx(path, 1.5, expected.width, expected.height);
    ASSERT_FALSE(frame.isEmpty());
    int cursorPixels = 0;
    for (int y = 1000; y < 1016; ++y)
        for (int x = 1500; x < 1510; ++x) {
            const uchar *p = reinterpret_cast<const uchar *>(frame.constData()) + (y * expected.width + x) * 4;
            cursorPixels += std::abs(p[1] - 0x70) > 40;
        }
    EXPECT_GT(cursorPixels, 8);
}

TEST_F(RecordingEndToEnd, AQuietScreenStillMakesAFileAsLongAsTheRecording)
{
    X11TestScene scene;
    scene.addWindow(QRect(0, 0, 400, 300), 0x203040);
    ScreenRecorder recorder(std::make_shared<LinuxCapturePlatform>());
    const QString path = dir.filePath(QStringLiteral("quiet.mp4"));
    run(recorder.start(path, QGuiApplication::primaryScreen(), false, std::nullopt));
    QElapsedTimer recording;
    recording.start();
    run(pause(2000));
    const double recordedSeconds = double(recording.elapsed()) / 1000.0;
    run(recorder.stop());
    const FfprobeReport report = ffprobe(path);
    ASSERT_TRUE(report.ok);
    EXPECT_NEAR(report.durationSeconds(), recordedSeconds, 0.2);
    // Only a few pictures: the screen did not change.
    const int frames = countVideoFrames(path);
    EXPECT_GE(frames, 2);
    EXPECT_LE(frames, int(recordedSeconds * 6));
}

} // namespace
