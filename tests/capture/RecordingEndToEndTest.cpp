// The recorder on a private X server, into real files: the file matches
// what the recorder reports and the wall time it ran, and a changing
// screen's changes are in it. A recording whose process is killed still
// plays, and a quiet screen makes few pictures.
#include "Await.h"
#include "ChangingScreen.h"
#include "DecodedPicture.h"
#include "PrivateHome.h"
#include "PrivateXServer.h"
#include "TestSound.h"
#include "capture/ScreenRecorder.h"
#include "platform/capture/LinuxCapturePlatform.h"

#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <signal.h>
#include <tuple>

namespace {

TEST(RecordingEndToEnd, RecordsAChangingScreenIntoAFileThatMatchesTheRecording)
{
    PrivateXServer server{QSize(2560, 1600)};
    if (!server.ok())
        GTEST_SKIP() << "No Xvfb to record.";
    PrivateHome home{PrivateHome::thisProcess};
    QTemporaryDir dir;
    const bool withSound = haveTestSoundServer();
    std::optional<ToneFeed> tone;
    if (withSound)
        tone.emplace();

    auto platform = std::make_shared<LinuxCapturePlatform>();
    ScreenRecorder recorder(platform);
    // The application's screen is on the shared display; its scale (1.0) is
    // what counts, and its name matches no monitor here but the first.
    QScreen *screen = QGuiApplication::primaryScreen();
    const DisplayInfo display = platform->displays().first();
    const PixelSize size = videoSizeFor(display.widthPoints, display.heightPoints,
                                        screen ? screen->devicePixelRatio() : kDefaultPointScale);
    const ChangingScreen moving(QRect(100, 100, 900, 600));
    const QString path = dir.filePath(QStringLiteral("Mivra recording.mp4"));
    const int64_t beforeUs = monotonicNowUs();
    run(recorder.start(path, screen, withSound, std::nullopt));
    settle(2000);
    const RecordingResult result = run(recorder.stop());
    const double wallSeconds = double(monotonicNowUs() - beforeUs) / 1e6;
    const FfprobeReport report = ffprobe(path);
    EXPECT_EQ(std::tuple(result.filePath, result.width, result.height), std::tuple(path, size.width, size.height));
    EXPECT_EQ(streamFields(report.video, "codec_name width height"),
              "h264 " + std::to_string(size.width) + " " + std::to_string(size.height));
    EXPECT_EQ(streamFields(report.audio, "codec_name sample_rate"), withSound ? "aac 48000" : " ");
    // The file runs from the first picture, which a loaded machine may send late.
    const double seconds = report.durationSeconds();
    EXPECT_TRUE(seconds >= 1.0 && seconds <= wallSeconds) << seconds << " of " << wallSeconds;
    EXPECT_NEAR(double(result.durationMs) / 1000.0, seconds, 0.002);
    // The changes are in the file (their rate is the benchmark's business).
    const QImage first = decodedPicture(path, 0, QSize(size.width, size.height));
    const QImage last = decodedPicture(path, seconds - 0.2, QSize(size.width, size.height));
    ASSERT_FALSE(first.isNull() || last.isNull());
    EXPECT_FALSE(near(last, {500, 400}, first.pixelColor(500, 400), 10));
    // Loosely: sound still in the server's buffers at the stop is not waited
    // for, and how much that is varies with the machine's load.
    if (withSound)
        EXPECT_NEAR(report.videoDurationSeconds(), report.audioDurationSeconds(), 0.25);
}

// A recording whose process is killed outright keeps what was written, even
// on a quiet screen, where only the writer's repeats (about four a second)
// make pictures and cut fragments. With the camera the compositing writer
// cuts its own fragments, and draws the bubble in the corner asked for (for
// this run only), moving with the camera.
TEST(KillDuringRecording, LeavesAFileThatPlaysUpToItsLastFragment)
{
    PrivateXServer server;
    if (!server.ok())
        GTEST_SKIP() << "No Xvfb to record.";
    PrivateHome home;
    home.env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(server.display()));
    home.env.insert(QStringLiteral("MIVRA_CAMERA"), QStringLiteral("test"));
    for (const QString camera : {"", " --camera --bubble-spot topLeft"}) {
        SCOPED_TRACE(camera.toStdString());
        const QString path = home.path(camera.isEmpty() ? "screen.mp4" : "camera.mp4");
        QProcess recorder;
        recorder.setProcessEnvironment(home.env);
        recorder.start(appBinary(), QString("record --no-mic%1 --output").arg(camera).split(' ') << path);
        const auto fragments = [&path] { return boxTypes(topLevelBoxes(path)).count(QStringLiteral("moof")); };
        ASSERT_TRUE(waitUntil([&] { return fragments() >= (camera.isEmpty() ? 9 : 5); }, 60000))
            << fragments() << " fragments; " << recorder.readAllStandardError().constData();
        ::kill(pid_t(recorder.processId()), SIGKILL);
        recorder.waitForFinished(5000);
        EXPECT_EQ(recorder.exitStatus(), QProcess::CrashExit);

        EXPECT_EQ(streamFields(ffprobe(path).video, "codec_name"), "h264") << "the killed recording does not open";
        const double seconds = decodableVideoSeconds(path);
        const int frames =
            ffprobeLines("-select_streams v:0 -count_packets -show_entries stream=nb_read_packets", path)[0].toInt();
        // The moving camera makes pictures of its own.
        EXPECT_TRUE(seconds >= 1.5 && (!camera.isEmpty() || frames <= int(seconds * 6)))
            << frames << " pictures in " << seconds << " s";
    }
    EXPECT_FALSE(QFile::exists(home.preferencesPath()));
    // topLeft at 1920x1080: the square spans x and y 24-243. The camera's
    // picture fills it (how it is mirrored and rimmed is the compositor's
    // test), its white square running along the camera's top edge.
    QList<int> white;
    for (double t = 0.1; t < 2.6; t += 0.25) {
        const QImage frame = decodedPicture(home.path("camera.mp4"), t, QSize(1920, 1080));
        ASSERT_GT(frame.pixelColor(94, 174).green(), 200) << t;
        white << 0;
        for (int y = 24; y < 60; ++y)
            for (int x = 24; x < 244; ++x) {
                const QColor seen = frame.pixelColor(x, y);
                white.last() += std::min({seen.red(), seen.green(), seen.blue()}) > 200;
            }
    }
    EXPECT_TRUE(*std::min_element(white.begin(), white.end()) < 30 &&
                *std::max_element(white.begin(), white.end()) > 150)
        << testing::PrintToString(white);
}

} // namespace
