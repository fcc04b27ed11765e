// One whole recording through the real app under the test's X display:
// "record?silent=1" and "stop" from later launches, the real recorder and
// uploader, the real mivra-server on 127.0.0.1; the link ends on the
// clipboard, the recent list keeps it and the file is gone.

#include "app/RecentLink.h"
#include "platform/FilePreferenceStore.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

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

class RecordingRoad : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs an X display (run under Xvfb)";
        if (!QFile::exists(kApp) || !QFile::exists(kServer))
            GTEST_SKIP() << "the app or mivra-server is not built in this tree";
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

        m_env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"})
            m_env.insert(QString::fromLatin1(name), m_home.filePath(QString::fromLatin1(name)));
        m_env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.path());
        m_env.insert(QStringLiteral("HOME"), m_home.path());
        m_env.insert(QStringLiteral("MIVRA_SERVICE_ORIGIN"), m_origin);
        m_env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        // The screen alone: this test is about the road, not the microphone.
        FilePreferenceStore(preferencesPath()).setValue(QStringLiteral("micEnabled"), false);
    }
    void TearDown() override
    {
        stop(m_app);
        stop(m_server);
    }

    QString preferencesPath() const { return m_home.filePath("XDG_CONFIG_HOME/Mivra Video/preferences.json"); }
    QString log() const
    {
        QFile file(m_home.filePath("XDG_STATE_HOME/Mivra Video/Logs/Mivra.log"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    bool waitForLog(const QString &text, int timeoutMs)
    {
        return QTest::qWaitFor([&] { return log().contains(text); }, timeoutMs);
    }
    int command(const QString &url)
    {
        QProcess process;
        process.setProcessEnvironment(m_env);
        process.start(kApp, {url});
        if (!process.waitForFinished(10000))
            return -1;
        return process.exitCode();
    }

    QTemporaryDir m_home;
    QProcess m_server;
    QProcess m_app;
    QString m_origin;
    QProcessEnvironment m_env;
};

TEST_F(RecordingRoad, SilentRecordEndsWithTheLinkOnTheClipboard)
{
    m_app.setProcessEnvironment(m_env);
    m_app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_app.start(kApp, {});
    ASSERT_TRUE(m_app.waitForStarted(5000));
    ASSERT_TRUE(waitForLog(QStringLiteral("start: idle"), 10000)) << log().toStdString();

    ASSERT_EQ(command(QStringLiteral("mivra://record?silent=1")), 0);
    // The first recording measures the encoder's speed before it starts.
    ASSERT_TRUE(waitForLog(QStringLiteral("phase recording"), 60000)) << log().toStdString();
    QTest::qWait(300);
    ASSERT_EQ(command(QStringLiteral("mivra://stop")), 0);

    static const QRegularExpression complete(QStringLiteral("upload (\\S+): complete, link (\\S+)"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return complete.match(log()).hasMatch(); }, 60000)) << log().toStdString();
    const QRegularExpressionMatch done = complete.match(log());
    const QString id = done.captured(1);
    const QString link = done.captured(2);
    EXPECT_TRUE(link.startsWith(m_origin)) << link.toStdString();
    ASSERT_TRUE(waitForLog(QStringLiteral("phase idle"), 10000));

    // Copied, not opened; read from the app over the X clipboard.
    EXPECT_TRUE(QTest::qWaitFor([&] { return QGuiApplication::clipboard()->text() == link; }, 5000))
        << QGuiApplication::clipboard()->text().toStdString();
    // The file went once the upload was done.
    const QDir recordings(m_home.filePath("Videos/Mivra"));
    EXPECT_TRUE(recordings.entryList({QStringLiteral("*.mp4")}, QDir::Files).isEmpty())
        << recordings.entryList().join(' ').toStdString();
    // The recent list holds the link.
    const auto stored = RecentLinkCoding::decode(
        FilePreferenceStore(preferencesPath()).dataValue("recentLinks").value_or(QByteArray()));
    ASSERT_TRUE(stored.has_value());
    ASSERT_EQ(stored->size(), 1);
    EXPECT_EQ(stored->front().id, id);
    EXPECT_EQ(stored->front().shareUrl, link);
    EXPECT_TRUE(stored->front().title.startsWith(QStringLiteral("Recording ")));
    EXPECT_FALSE(log().contains(QStringLiteral("Upload failed")));
}

} // namespace
