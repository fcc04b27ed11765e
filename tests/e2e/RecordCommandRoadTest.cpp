// `mivra record` from the command line with no app running: the real
// recorder and uploader through AppState, the real mivra-server on
// 127.0.0.1. The link alone comes out on stdout, the server holds the
// recording, the recent list keeps the link and the file is gone.

#include "FfprobeReport.h"
#include "RoadRig.h"

#include "platform/FilePreferenceStore.h"

#include <QImage>

#include <csignal>

namespace {

class RecordCommandRoad : public RoadRig {
protected:
    bool preferenceWritten(const char *key) const
    {
        return FilePreferenceStore(home.preferencesPath()).value(QString::fromLatin1(key)).has_value();
    }
};

TEST_F(RecordCommandRoad, PrintsTheLinkOfTheUploadedRecording)
{
    QProcess record;
    QByteArray err;
    ASSERT_TRUE(startRecording(record, {"--seconds", "2", "--no-mic", "--silent"}, err)) << err.toStdString();
    const QString out = ended(record, err);
    ASSERT_TRUE(out.startsWith("exit 0:" + origin)) << out.toStdString() << err.toStdString();
    // Progress went to stderr.
    EXPECT_TRUE(err.contains("uploaded") || err.contains("Uploaded") || err.contains("%")) << err.toStdString();

    // The link alone on stdout, and kept in the recent list.
    const QList<RecentLink> stored = storedLinks();
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ("exit 0:" + stored[0].shareUrl, out);
    EXPECT_TRUE(stored[0].title.startsWith(QStringLiteral("Recording ")));
    // --no-mic and the camera held for this run only, not written for the app.
    EXPECT_FALSE(preferenceWritten("micEnabled"));
    EXPECT_FALSE(preferenceWritten("cameraEnabled"));

    // The service holds the recording: H.264, about as long as asked (less
    // when the first picture comes late), even size, and no sound track.
    const FfprobeReport report = ffprobe(fetch(stored[0].id));
    ASSERT_TRUE(report.ok);
    EXPECT_EQ(report.video.value(QStringLiteral("codec_name")).toString(), QStringLiteral("h264"));
    const int width = report.video.value(QStringLiteral("width")).toInt();
    const int height = report.video.value(QStringLiteral("height")).toInt();
    EXPECT_TRUE(width > 0 && height > 0 && width % 2 == 0 && height % 2 == 0) << width << "x" << height;
    EXPECT_TRUE(report.durationSeconds() > 0.5 && report.durationSeconds() < 5) << report.durationSeconds();
    EXPECT_TRUE(report.audio.isEmpty());
    EXPECT_TRUE(recordings().isEmpty()) << recordings().join(' ').toStdString();

    // The link's thumbnail was made from the recording before it went: a JPEG
    // within 320 x 320 of the video's shape.
    const QImage thumbnail(home.path("XDG_DATA_HOME/Mivra Video/Thumbnails/" + stored[0].id + ".jpg"), "JPEG");
    ASSERT_FALSE(thumbnail.isNull());
    EXPECT_EQ(qMax(thumbnail.width(), thumbnail.height()), 320);
    EXPECT_NEAR(double(thumbnail.width()) / thumbnail.height(), double(width) / height, 0.02);
}

// Ctrl-C stops, uploads and prints the link; the microphone's sound reaches
// the service.
TEST_F(RecordCommandRoad, CtrlCStopsAndTheSoundReachesTheService)
{
    if (!home.env.contains(QStringLiteral("PULSE_SERVER")))
        GTEST_SKIP() << "needs the test PulseAudio server";
    QProcess record;
    QByteArray err;
    ASSERT_TRUE(startRecording(record, {"--silent"}, err) && awaitFirstPictures()) << err.toStdString();
    ::kill(pid_t(record.processId()), SIGINT);
    const QString out = ended(record, err);
    const QList<RecentLink> stored = storedLinks();
    ASSERT_EQ(stored.size(), 1) << out.toStdString() << err.toStdString();
    EXPECT_EQ("exit 0:" + stored[0].shareUrl, out);
    EXPECT_EQ(ffprobe(fetch(stored[0].id)).audio.value(QStringLiteral("codec_name")).toString(), QStringLiteral("aac"));
    EXPECT_TRUE(recordings().isEmpty()) << recordings().join(' ').toStdString();
}

TEST_F(RecordCommandRoad, SecondCtrlCDiscards)
{
    for (const bool whileStarting : {true, false}) {
        SCOPED_TRACE(whileStarting ? "while starting" : "while stopping");
        QProcess record;
        QByteArray err;
        const QStringList before = recordings();
        if (whileStarting) {
            // While the first recording measures the encoder: Ctrl-C, then
            // the terminal closing (two kinds, so both arrive). The stop never
            // begins; the recording is discarded once it runs.
            record.setProcessEnvironment(home.env);
            record.start(appBinary(), {"record", "--no-mic", "--silent"});
            ASSERT_TRUE(home.waitForLog(QStringLiteral("phase starting"), 30000)) << home.log().toStdString();
            ::kill(pid_t(record.processId()), SIGINT);
            ::kill(pid_t(record.processId()), SIGTERM);
        } else {
            // Signals of one kind do not queue: send until it ends, a few ms
            // apart, so one lands while the first one's stop is under way.
            ASSERT_TRUE(startRecording(record, {"--no-mic", "--silent"}, err) && awaitFirstPictures());
            for (int sent = 0; record.state() != QProcess::NotRunning && sent < 10000; ++sent) {
                ::kill(pid_t(record.processId()), SIGINT);
                record.waitForFinished(3);
            }
        }
        EXPECT_EQ(ended(record, err), "exit 1:") << err.toStdString();
        EXPECT_TRUE(err.contains("Discarded.")) << err.toStdString();
        EXPECT_TRUE(storedLinks().isEmpty());
        // Discarded as it begins, before a picture arrives, the recorder's
        // stop fails and the file may stay; a running recording's goes.
        EXPECT_TRUE(whileStarting || recordings() == before) << recordings().join(' ').toStdString();
    }
}

TEST_F(RecordCommandRoad, FailedUploadSaysWhyAndKeepsTheFile)
{
    server->kill9();
    QProcess record;
    QByteArray err;
    ASSERT_TRUE(startRecording(record, {"--seconds", "1", "--no-mic", "--silent"}, err)) << err.toStdString();
    EXPECT_EQ(ended(record, err), "exit 1:") << err.toStdString();
    EXPECT_TRUE(err.contains("Upload failed")) << err.toStdString();
    EXPECT_EQ(recordings().size(), 1);
}

} // namespace
