// `mivra record` from the command line with no app running: the real
// recorder and uploader through AppState, the real mivra-server on
// 127.0.0.1. The link alone comes out on stdout, the server holds the
// recording, the recent list keeps the link and the file is gone.

#include "Await.h"
#include "FfprobeReport.h"
#include "PrivateHome.h"
#include "ServerProcess.h"

#include "app/RecentLink.h"
#include "platform/FilePreferenceStore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QStandardPaths>
#include <QTest>
#include <gtest/gtest.h>

#include <csignal>
#include <optional>

namespace {

class RecordCommandRoad : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs an X display (run under Xvfb)";
        if (!QFile::exists(appBinary()) || !ServerProcess::built())
            GTEST_SKIP() << "the app or mivra-server is not built in this tree";
        if (QStandardPaths::findExecutable(QStringLiteral("ffprobe")).isEmpty())
            GTEST_SKIP() << "needs ffprobe";
        m_server.emplace(m_home.path("server").toStdString(), std::vector<std::string>{"--quiet"});
        ASSERT_TRUE(m_server->started());
        m_origin = QString::fromStdString(m_server->origin());
        m_home.env.insert(QStringLiteral("MIVRA_SERVICE_ORIGIN"), m_origin);
    }

    // Starts `mivra record ARGS` and waits for its word that it records.
    bool startRecording(QProcess &record, const QStringList &arguments, QByteArray &err)
    {
        record.setProcessEnvironment(m_home.env);
        record.setReadChannel(QProcess::StandardError);
        record.start(appBinary(), QStringList{QStringLiteral("record")} + arguments);
        if (!record.waitForStarted(5000))
            return false;
        // The first recording measures the encoder's speed before it starts.
        while (!err.contains("Ctrl-C") && record.waitForReadyRead(60000))
            err += record.readAllStandardError();
        return err.contains("Ctrl-C");
    }
    QList<RecentLink> storedLinks() const
    {
        return RecentLinkCoding::decode(
                   FilePreferenceStore(m_home.preferencesPath()).dataValue("recentLinks").value_or(QByteArray()))
            .value_or(QList<RecentLink>());
    }
    QStringList recordings() const
    {
        return QDir(m_home.recordingsFolder()).entryList({QStringLiteral("*.mp4")}, QDir::Files);
    }
    // What the service serves for the one stored link, as ffprobe sees it.
    FfprobeReport fetchedRecording()
    {
        const QList<RecentLink> links = storedLinks();
        if (links.size() != 1)
            return {};
        QNetworkAccessManager network;
        QNetworkReply *reply = network.get(QNetworkRequest(QUrl(m_origin + QStringLiteral("/r/") + links[0].id)));
        waitUntil([reply] { return reply->isFinished(); }, 20000);
        QFile file(m_home.path(QStringLiteral("fetched.mp4")));
        file.open(QIODevice::WriteOnly);
        file.write(reply->readAll());
        file.close();
        delete reply;
        return ffprobe(file.fileName());
    }
    bool micPreferenceWritten() const
    {
        return FilePreferenceStore(m_home.preferencesPath()).value(QStringLiteral("micEnabled")).has_value();
    }

    PrivateHome m_home;
    std::optional<ServerProcess> m_server;
    QString m_origin;
};

TEST_F(RecordCommandRoad, PrintsTheLinkOfTheUploadedRecording)
{
    QProcess record;
    record.setProcessEnvironment(m_home.env);
    record.start(appBinary(), {"record", "--seconds", "2", "--no-mic", "--silent"});
    // The first recording measures the encoder's speed before it starts.
    const bool finished = record.waitForFinished(90000);
    const QString out = QString::fromUtf8(record.readAllStandardOutput());
    const QString err = QString::fromUtf8(record.readAllStandardError());
    stopChild(record);
    ASSERT_TRUE(finished) << err.toStdString();
    ASSERT_EQ(record.exitCode(), 0) << err.toStdString();

    // The link alone on stdout; progress went to stderr.
    const QStringList lines = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 1) << out.toStdString();
    EXPECT_TRUE(lines[0].startsWith(m_origin)) << lines[0].toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("uploaded"), Qt::CaseInsensitive) || err.contains(QStringLiteral("%")))
        << err.toStdString();

    const QList<RecentLink> stored = storedLinks();
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(stored[0].shareUrl, lines[0]);
    EXPECT_TRUE(stored[0].title.startsWith(QStringLiteral("Recording ")));
    // --no-mic and the camera held for this run only, not written for the app.
    EXPECT_FALSE(micPreferenceWritten());
    EXPECT_FALSE(FilePreferenceStore(m_home.preferencesPath()).value(QStringLiteral("cameraEnabled")).has_value());

    // The service holds the recording: H.264, about as long as asked, even
    // size, and no sound track.
    const FfprobeReport report = fetchedRecording();
    ASSERT_TRUE(report.ok);
    EXPECT_EQ(report.video.value(QStringLiteral("codec_name")).toString(), QStringLiteral("h264"));
    const int width = report.video.value(QStringLiteral("width")).toInt();
    const int height = report.video.value(QStringLiteral("height")).toInt();
    EXPECT_TRUE(width > 0 && height > 0 && width % 2 == 0 && height % 2 == 0) << width << "x" << height;
    // Counted from the first picture, which comes late on a busy machine.
    EXPECT_TRUE(report.durationSeconds() > 1.0 && report.durationSeconds() <= 2.3) << report.durationSeconds();
    EXPECT_TRUE(report.audio.isEmpty());
    EXPECT_TRUE(recordings().isEmpty()) << recordings().join(' ').toStdString();

    // The link's thumbnail was made from the recording before it went: a JPEG
    // within 320 x 320 of the video's shape.
    const QImage thumbnail(m_home.path("XDG_DATA_HOME/Mivra Video/Thumbnails/" + stored[0].id + ".jpg"), "JPEG");
    ASSERT_FALSE(thumbnail.isNull());
    EXPECT_EQ(qMax(thumbnail.width(), thumbnail.height()), 320);
    EXPECT_NEAR(double(thumbnail.width()) / thumbnail.height(), double(width) / height, 0.02);
}

// Ctrl-C stops, uploads and prints the link; the microphone's sound reaches
// the service.
TEST_F(RecordCommandRoad, CtrlCStopsAndTheSoundReachesTheService)
{
    if (!m_home.env.contains(QStringLiteral("PULSE_SERVER")))
        GTEST_SKIP() << "needs the test PulseAudio server";
    QProcess record;
    QByteArray err;
    ASSERT_TRUE(startRecording(record, {"--silent"}, err)) << err.toStdString();
    QTest::qWait(500); // something to record
    ::kill(pid_t(record.processId()), SIGINT);
    ASSERT_TRUE(record.waitForFinished(60000));
    err += record.readAllStandardError();
    ASSERT_EQ(record.exitCode(), 0) << err.toStdString();
    const QString out = QString::fromUtf8(record.readAllStandardOutput()).trimmed();
    EXPECT_TRUE(out.startsWith(m_origin)) << out.toStdString();
    const QList<RecentLink> stored = storedLinks();
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(stored[0].shareUrl, out);
    EXPECT_EQ(fetchedRecording().audio.value(QStringLiteral("codec_name")).toString(), QStringLiteral("aac"));
    EXPECT_FALSE(micPreferenceWritten()) << "the microphone was asked for this run only";
    EXPECT_TRUE(recordings().isEmpty()) << recordings().join(' ').toStdString();
}

TEST_F(RecordCommandRoad, SecondCtrlCDiscards)
{
    QProcess record;
    QByteArray err;
    ASSERT_TRUE(startRecording(record, {"--no-mic", "--silent"}, err)) << err.toStdString();
    QTest::qWait(500); // something to record
    // Signals of one kind do not queue: send until it ends, a few ms apart,
    // so the second lands while the first one's stop is under way.
    QElapsedTimer clock;
    clock.start();
    while (record.state() != QProcess::NotRunning && clock.elapsed() < 30000) {
        ::kill(pid_t(record.processId()), SIGINT);
        record.waitForFinished(3);
    }
    ASSERT_EQ(record.state(), QProcess::NotRunning);
    err += record.readAllStandardError();
    EXPECT_EQ(record.exitCode(), 1) << err.toStdString();
    EXPECT_TRUE(err.contains("Discarded.")) << err.toStdString();
    EXPECT_TRUE(record.readAllStandardOutput().trimmed().isEmpty());
    EXPECT_TRUE(recordings().isEmpty()) << recordings().join(' ').toStdString();
    EXPECT_TRUE(storedLinks().isEmpty());
}

TEST_F(RecordCommandRoad, FailedUploadSaysWhyAndKeepsTheFile)
{
    m_server->kill9();
    QProcess record;
    QByteArray err;
    ASSERT_TRUE(startRecording(record, {"--seconds", "1", "--no-mic", "--silent"}, err)) << err.toStdString();
    ASSERT_TRUE(record.waitForFinished(60000));
    err += record.readAllStandardError();
    EXPECT_EQ(record.exitCode(), 1) << err.toStdString();
    EXPECT_TRUE(record.readAllStandardOutput().trimmed().isEmpty());
    EXPECT_TRUE(err.contains("Upload failed")) << err.toStdString();
    EXPECT_EQ(recordings().size(), 1);
}

} // namespace
