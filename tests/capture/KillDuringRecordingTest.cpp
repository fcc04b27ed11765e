#include "FfprobeReport.h"
#include "PrivateHome.h"
#include "PrivateXServer.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <signal.h>

namespace {

// A recording whose process is killed outright keeps what was written: the
// file plays up to within 2 s of the kill, even on a quiet screen, where only
// the writer's repeats flow.
TEST(KillDuringRecording, LeavesAFileThatPlaysToWithinTwoSecondsOfTheKill)
{
    PrivateXServer server;
    if (!server.ok())
        GTEST_SKIP() << "No Xvfb to record.";
    PrivateHome home{PrivateHome::thisProcess};
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("killed.mp4"));

    QProcess recorder;
    recorder.setProcessChannelMode(QProcess::SeparateChannels);
    recorder.start(QStringLiteral(MIVRA_BINARY_DIR "/src/mivra"),
                   {QStringLiteral("record"), QStringLiteral("--no-mic"), QStringLiteral("--output"), path});
    ASSERT_TRUE(recorder.waitForStarted(5000));
    QElapsedTimer clock;
    clock.start();
    QByteArray said;
    while (!said.contains("Recording to") && clock.elapsed() < 15000) {
        recorder.waitForReadyRead(100);
        said += recorder.readAllStandardError();
    }
    ASSERT_TRUE(said.contains("Recording to")) << said.toStdString();
    const qint64 startedMs = clock.elapsed();

    QThread::msleep(3500);
    ::kill(pid_t(recorder.processId()), SIGKILL);
    const qint64 killedMs = clock.elapsed();
    recorder.waitForFinished(5000);
    EXPECT_EQ(recorder.exitStatus(), QProcess::CrashExit);

    const double recordedSeconds = double(killedMs - startedMs) / 1000.0;
    const FfprobeReport report = ffprobe(path);
    ASSERT_TRUE(report.ok) << "the killed recording does not open";
    EXPECT_EQ(report.video.value("codec_name").toString().toStdString(), "h264");
    const double playable = decodableVideoSeconds(path);
    EXPECT_GE(playable, recordedSeconds - 2.0) << "recorded " << recordedSeconds << " s";
    EXPECT_LE(playable, recordedSeconds + 0.5);
}

} // namespace
