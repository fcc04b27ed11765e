// `mivra record` from the command line with no app running: the real
// recorder and uploader through AppState, the real mivra-server on
// 127.0.0.1. The link alone comes out on stdout, the server holds the
// recording, the recent list keeps the link and the file is gone.

#include "app/RecentLink.h"
#include "platform/FilePreferenceStore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <csignal>

namespace {

const QString kApp = QStringLiteral(MIVRA_BINARY_DIR "/src/mivra");
const QString kServer = QStringLiteral(MIVRA_BINARY_DIR "/server/mivra-server");

void stop(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000))
        process.kill();
    process.waitForFinished(5000);
}

// "key=value" lines of ffprobe's flat output.
QMap<QString, QString> probe(const QString &path, const QString &stream = QStringLiteral("v:0"))
{
    QProcess ffprobe;
    ffprobe.start(QStringLiteral("ffprobe"),
                  {"-v", "error", "-select_streams", stream, "-show_entries",
                   "stream=codec_name,width,height:format=duration", "-of", "default=noprint_wrappers=1", path});
    QMap<QString, QString> facts;
    if (!ffprobe.waitForFinished(20000))
        return facts;
    for (const QByteArray &line : ffprobe.readAllStandardOutput().split('\n')) {
        const int equals = line.indexOf('=');
        if (equals > 0)
            facts.insert(QString::fromUtf8(line.left(equals)), QString::fromUtf8(line.mid(equals + 1)).trimmed());
    }
    return facts;
}

class RecordCommandRoad : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs an X display (run under Xvfb)";
        if (!QFile::exists(kApp) || !QFile::exists(kServer))
            GTEST_SKIP() << "the app or mivra-server is not built in this tree";
        if (QStandardPaths::findExecutable(QStringLiteral("ffprobe")).isEmpty())
            GTEST_SKIP() << "needs ffprobe";
        QFile::setPermissions(m_home.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        m_server.setProgram(kServer);
        m_server.setArguments({"--listen", "127.0.0.1:0", "--data", m_home.filePath("server"), "--quiet"});
        m_server.setStandardErrorFile(QProcess::nullDevice());
        m_server.start();
        ASSERT_TRUE(m_server.waitForStarted(5000));
        QByteArray line;
        while (!line.contains('\n') && m_server.waitForReadyRead(10000))
            line += m_server.readAllStandardOutput();
        ASSERT_TRUE(line.startsWith("listening on ")) << line.toStdString();
        m_origin = QString::fromLatin1(line.mid(13).trimmed());

        // A private home: nothing touches the user's files, and no running
        // app is found on the private runtime folder's socket.
        m_env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"})
            m_env.insert(QString::fromLatin1(name), m_home.filePath(QString::fromLatin1(name)));
        m_env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.path());
        m_env.insert(QStringLiteral("HOME"), m_home.path());
        m_env.insert(QStringLiteral("MIVRA_SERVICE_ORIGIN"), m_origin);
        m_env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        // The sound server the test script started lives in the real runtime
        // folder, which the private one hides.
        const QString pulse = qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/pulse/native");
        if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && QFile::exists(pulse))
            m_env.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:") + pulse);
    }
    void TearDown() override { stop(m_server); }

    QString preferencesPath() const { return m_home.filePath("XDG_CONFIG_HOME/Mivra Video/preferences.json"); }

    QByteArray fetch(const QString &url)
    {
        QNetworkAccessManager network;
        QNetworkReply *reply = network.get(QNetworkRequest(QUrl(url)));
        const bool finished = QTest::qWaitFor([reply] { return reply->isFinished(); }, 20000);
        const QByteArray body = finished && reply->error() == QNetworkReply::NoError ? reply->readAll() : QByteArray();
        delete reply;
        return body;
    }

    // Starts `mivra record ARGS` and waits for its word that it records.
    bool startRecording(QProcess &record, const QStringList &arguments, QByteArray &err)
    {
        record.setProcessEnvironment(m_env);
        record.setReadChannel(QProcess::StandardError);
        record.start(kApp, QStringList{QStringLiteral("record")} + arguments);
        if (!record.waitForStarted(5000))
            return false;
        // The first recording measures the encoder's speed before it starts.
        while (!err.contains("Ctrl-C") && record.waitForReadyRead(60000))
            err += record.readAllStandardError();
        return err.contains("Ctrl-C");
    }
    std::optional<QList<RecentLink>> storedLinks() const
    {
        return RecentLinkCoding::decode(
            FilePreferenceStore(preferencesPath()).dataValue("recentLinks").value_or(QByteArray()));
    }
    QStringList recordings() const
    {
        return QDir(m_home.filePath("Videos/Mivra")).entryList({QStringLiteral("*.mp4")}, QDir::Files);
    }
    QString log() const
    {
        QFile file(m_home.filePath("XDG_STATE_HOME/Mivra Video/Logs/Mivra.log"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    QTemporaryDir m_home;
    QProcess m_server;
    QString m_origin;
    QProcessEnvironment m_env;
};

TEST_F(RecordCommandRoad, PrintsTheLinkOfTheUploadedRecording)
{
    QProcess record;
    record.setProcessEnvironment(m_env);
    record.start(kApp, {"record", "--seconds", "2", "--no-mic", "--silent"});
    ASSERT_TRUE(record.waitForStarted(5000));
    // The first recording measures the encoder's speed before it starts.
    const bool finished = record.waitForFinished(90000);
    const QString out = QString::fromUtf8(record.readAllStandardOutput());
    const QString err = QString::fromUtf8(record.readAllStandardError());
    if (!finished)
        stop(record);
    ASSERT_TRUE(finished) << err.toStdString();
    ASSERT_EQ(record.exitStatus(), QProcess::NormalExit);
    ASSERT_EQ(record.exitCode(), 0) << err.toStdString();

    // The link alone on stdout; progress went to stderr.
    const QStringList lines = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 1) << out.toStdString();
    const QString link = lines.front();
    EXPECT_TRUE(link.startsWith(m_origin)) << link.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("uploaded"), Qt::CaseInsensitive) || err.contains(QStringLiteral("%")))
        << err.toStdString();

    // The recent list holds the link.
    const auto stored = RecentLinkCoding::decode(
        FilePreferenceStore(preferencesPath()).dataValue("recentLinks").value_or(QByteArray()));
    ASSERT_TRUE(stored.has_value());
    ASSERT_EQ(stored->size(), 1);
    EXPECT_EQ(stored->front().shareUrl, link);
    EXPECT_TRUE(stored->front().title.startsWith(QStringLiteral("Recording ")));
    // --no-mic and the camera held for this run only, not written for the app.
    const FilePreferenceStore preferences(preferencesPath());
    EXPECT_FALSE(preferences.value(QStringLiteral("micEnabled")).has_value());
    EXPECT_FALSE(preferences.value(QStringLiteral("cameraEnabled")).has_value());

    // The service holds the recording: H.264, about as long as asked, even size.
    const QByteArray video = fetch(m_origin + QStringLiteral("/r/") + stored->front().id);
    ASSERT_GT(video.size(), 1000);
    const QString fetched = m_home.filePath(QStringLiteral("fetched.mp4"));
    {
        QFile file(fetched);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(video);
    }
    const auto facts = probe(fetched);
    EXPECT_EQ(facts.value(QStringLiteral("codec_name")), QStringLiteral("h264"));
    const int width = facts.value(QStringLiteral("width")).toInt();
    const int height = facts.value(QStringLiteral("height")).toInt();
    EXPECT_GT(width, 0);
    EXPECT_GT(height, 0);
    EXPECT_EQ(width % 2, 0);
    EXPECT_EQ(height % 2, 0);
    EXPECT_NEAR(facts.value(QStringLiteral("duration")).toDouble(), 2.0, 0.4);
    // --no-mic: no sound track.
    EXPECT_FALSE(probe(fetched, QStringLiteral("a:0")).contains(QStringLiteral("codec_name")));

    // The local file went once the upload was done.
    const QDir recordings(m_home.filePath("Videos/Mivra"));
    EXPECT_TRUE(recordings.entryList({QStringLiteral("*.mp4")}, QDir::Files).isEmpty())
        << recordings.entryList().join(' ').toStdString();
}

TEST_F(RecordCommandRoad, MicrophoneSoundReachesTheService)
{
    if (!m_env.contains(QStringLiteral("PULSE_SERVER")))
        GTEST_SKIP() << "needs the test PulseAudio server";
    QProcess record;
    QByteArray err;
    ASSERT_TRUE(startRecording(record, {"--seconds", "2", "--silent"}, err)) << err.toStdString();
    ASSERT_TRUE(record.waitForFinished(60000));
    err += record.readAllStandardError();
    ASSERT_EQ(record.exitCode(), 0) << err.toStdString();
    const auto stored = storedLinks();
    ASSERT_TRUE(stored.has_value() && stored->size() == 1);
    const QByteArray video = fetch(m_origin + QStringLiteral("/r/") + stored->front().id);
    const QString fetched = m_home.filePath(QStringLiteral("fetched.mp4"));
    {
        QFile file(fetched);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(video);
    }
    EXPECT_EQ(probe(fetched, QStringLiteral("a:0")).value(QStringLiteral("codec_name")), QStringLiteral("aac"));
    // The microphone was asked for this run only.
    EXPECT_FALSE(FilePreferenceStore(preferencesPath()).value(QStringLiteral("micEnabled")).has_value());
}

TEST_F(RecordCommandRoad, CtrlCStopsAndPrintsTheLink)
{
    QProcess record;
    QByteArray err;
    ASSERT_TRUE(startRecording(record, {"--no-mic", "--silent"}, err)) << err.toStdString();
    QTest::qWait(500);
    ::kill(pid_t(record.processId()), SIGINT);
    ASSERT_TRUE(record.waitForFinished(60000));
    err += record.readAllStandardError();
    ASSERT_EQ(record.exitCode(), 0) << err.toStdString();
    const QString out = QString::fromUtf8(record.readAllStandardOutput()).trimmed();
    EXPECT_TRUE(out.startsWith(m_origin)) << out.toStdString();
    const auto stored = storedLinks();
    ASSERT_TRUE(stored.has_value());
    ASSERT_EQ(stored->size(), 1);
    EXPECT_EQ(stored->front().shareUrl, out);
    EXPECT_TRUE(recordings().isEmpty()) << recordings().join(' ').toStdString();
}

TEST_F(RecordCommandRoad, SecondCtrlCDiscards)
{
    QProcess record;
    QByteArray err;
    ASSERT_TRUE(startRecording(record, {"--no-mic", "--silent"}, err)) << err.toStdString();
    QTest::qWait(500);
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
    const auto stored = storedLinks();
    EXPECT_TRUE(!stored.has_value() || stored->isEmpty());
}

TEST_F(RecordCommandRoad, FailedUploadSaysWhyAndKeepsTheFile)
{
    stop(m_server);
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

// With the app running, the command hands the recording over to it: the app
// makes the link, the command only says so.
TEST_F(RecordCommandRoad, RunningAppRecordsInstead)
{
    // The app keeps its own microphone setting; no sound server here.
    FilePreferenceStore(preferencesPath()).setValue(QStringLiteral("micEnabled"), false);
    QProcess app;
    app.setProcessEnvironment(m_env);
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    app.start(kApp, {});
    ASSERT_TRUE(app.waitForStarted(5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return log().contains(QStringLiteral("start: idle")); }, 10000))
        << log().toStdString();

    QProcess record;
    QByteArray err;
    ASSERT_TRUE(startRecording(record, {"--seconds", "1", "--silent"}, err)) << err.toStdString();
    const bool finished = record.waitForFinished(60000);
    err += record.readAllStandardError();
    ASSERT_TRUE(finished) << err.toStdString();
    EXPECT_EQ(record.exitCode(), 0) << err.toStdString();
    EXPECT_TRUE(record.readAllStandardOutput().trimmed().isEmpty());
    EXPECT_TRUE(err.contains("puts it on the clipboard")) << err.toStdString();

    static const QRegularExpression complete(QStringLiteral("upload (\\S+): complete, link (\\S+)"));
    const bool uploaded = QTest::qWaitFor([&] { return complete.match(log()).hasMatch(); }, 60000);
    stop(app);
    ASSERT_TRUE(uploaded) << log().toStdString();
    EXPECT_TRUE(complete.match(log()).captured(2).startsWith(m_origin));
    // The app's recording: started once, stopped by the command.
    EXPECT_EQ(log().count(QStringLiteral("phase recording")), 1);
}

} // namespace
