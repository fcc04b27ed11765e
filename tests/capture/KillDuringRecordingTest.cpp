#include "Await.h"
#include "FfprobeReport.h"
#include "PrivateHome.h"
#include "PrivateXServer.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <signal.h>

namespace {

// A recording whose process is killed outright keeps what was written, even
// on a quiet screen, where only the writer's repeats cut fragments (about
// four a second).
TEST(KillDuringRecording, LeavesAFileThatPlaysUpToItsLastFragment)
{
    PrivateXServer server;
    if (!server.ok())
        GTEST_SKIP() << "No Xvfb to record.";
    PrivateHome home{PrivateHome::thisProcess};
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("killed.mp4"));

    QProcess recorder;
    recorder.start(QStringLiteral(MIVRA_BINARY_DIR "/src/mivra"),
                   {QStringLiteral("record"), QStringLiteral("--no-mic"), QStringLiteral("--output"), path});
    const auto fragments = [&path] { return boxTypes(topLevelBoxes(path)).count(QStringLiteral("moof")); };
    ASSERT_TRUE(waitUntil([&] { return fragments() >= 9; }, 60000))
        << fragments() << " fragments; " << recorder.readAllStandardError().constData();
    ::kill(pid_t(recorder.processId()), SIGKILL);
    recorder.waitForFinished(5000);
    EXPECT_EQ(recorder.exitStatus(), QProcess::CrashExit);

    EXPECT_EQ(streamFields(ffprobe(path).video, "codec_name"), "h264") << "the killed recording does not open";
    EXPECT_GE(decodableVideoSeconds(path), 1.5);
}

} // namespace
