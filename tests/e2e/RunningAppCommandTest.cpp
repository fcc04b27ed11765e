// The command line with the app running: record, upload and links go
// through the app, which answers; their links are in its list at once.

#include "Await.h"
#include "FfprobeReport.h"
#include "PrivateHome.h"
#include "ServerProcess.h"

#include "platform/FilePreferenceStore.h"

#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <optional>

namespace {

class RunningAppCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs an X display (run under Xvfb)";
        if (!QFile::exists(appBinary()) || !ServerProcess::built())
            GTEST_SKIP() << "the app or mivra-server is not built in this tree";
        m_server.emplace(m_home.path("server").toStdString(), std::vector<std::string>{"--quiet"});
        ASSERT_TRUE(m_server->started());
        m_home.env.insert(QStringLiteral("MIVRA_SERVICE_ORIGIN"), QString::fromStdString(m_server->origin()));
        FilePreferenceStore(m_home.preferencesPath()).setValue(QStringLiteral("micEnabled"), false);
    }
    void TearDown() override { stopChild(m_app); }

    void startApp()
    {
        m_app.setProcessEnvironment(m_home.env);
        m_app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_app.start(appBinary(), {});
        ASSERT_TRUE(m_home.waitForLog(QStringLiteral("start: idle in the tray after "), 30000))
            << m_home.log().toStdString();
    }
    ChildRun mivra(const QStringList &arguments) { return runApp(arguments, m_home.env, 60000); }
    // The app's list, as `mivra links --json` prints it: titles by id, newest first.
    QList<std::pair<QString, QString>> appLinks()
    {
        const ChildRun run = mivra({QStringLiteral("links"), QStringLiteral("--json")});
        QList<std::pair<QString, QString>> links;
        for (const QJsonValue &link : QJsonDocument::fromJson(run.out.toUtf8()).array())
            links.append({link[QStringLiteral("shareUrl")].toString(), link[QStringLiteral("title")].toString()});
        return links;
    }

    PrivateHome m_home;
    std::optional<ServerProcess> m_server;
    QProcess m_app;
};

TEST_F(RunningAppCommand, RecordPrintsTheLinkThatLeadsTheAppsList)
{
    if (QStandardPaths::findExecutable(QStringLiteral("ffprobe")).isEmpty())
        GTEST_SKIP() << "needs ffprobe";
    // The app records sound; --no-mic holds for this recording only.
    FilePreferenceStore(m_home.preferencesPath()).setValue(QStringLiteral("micEnabled"), true);
    startApp();
    const ChildRun record = mivra({QStringLiteral("record"), QStringLiteral("--silent"), QStringLiteral("--seconds"),
                                   QStringLiteral("1"), QStringLiteral("--no-mic")});
    ASSERT_EQ(record.status, 0) << record.err.toStdString();
    const QString link = record.out.trimmed();
    EXPECT_TRUE(link.startsWith(QString::fromStdString(m_server->origin()) + QStringLiteral("/v/")))
        << record.out.toStdString();
    EXPECT_TRUE(record.err.contains(QStringLiteral("Recording in Mivra Video"))) << record.err.toStdString();
    const auto links = appLinks();
    ASSERT_FALSE(links.isEmpty());
    EXPECT_EQ(links.front().first, link);

    QNetworkAccessManager network;
    std::unique_ptr<QNetworkReply> media(network.get(QNetworkRequest(
        QUrl(link.section(QStringLiteral("/v/"), 0, 0) + QStringLiteral("/r/") + link.section(QLatin1Char('/'), -1)))));
    ASSERT_TRUE(waitUntil([&] { return media->isFinished(); }, 20000));
    QFile file(m_home.path(QStringLiteral("fetched.mp4")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(media->readAll());
    file.close();
    const FfprobeReport report = ffprobe(file.fileName());
    EXPECT_FALSE(report.video.isEmpty());
    EXPECT_TRUE(report.audio.isEmpty());
    EXPECT_EQ(FilePreferenceStore(m_home.preferencesPath()).boolValue(QStringLiteral("micEnabled")), true);
}

TEST_F(RunningAppCommand, UploadAndRenameShowInTheAppsListAtOnce)
{
    const QString file = m_home.path(QStringLiteral("clip.mp4"));
    ASSERT_EQ(mivra({QStringLiteral("record"), QStringLiteral("--output"), file, QStringLiteral("--seconds"),
                     QStringLiteral("1")})
                  .status,
              0);
    startApp();
    const ChildRun upload = mivra({QStringLiteral("upload"), file, QStringLiteral("--title"), QStringLiteral("Q & A")});
    ASSERT_EQ(upload.status, 0) << upload.err.toStdString();
    const QString link = upload.out.trimmed();
    ASSERT_EQ(appLinks().value(0), std::make_pair(link, QStringLiteral("Q & A")));

    const QString id = link.section(QLatin1Char('/'), -1);
    const ChildRun rename = mivra({QStringLiteral("links"), QStringLiteral("rename"), id, QStringLiteral("Renamed")});
    ASSERT_EQ(rename.status, 0) << rename.err.toStdString();
    EXPECT_EQ(appLinks().value(0), std::make_pair(link, QStringLiteral("Renamed")));

    const ChildRun unknown = mivra({QStringLiteral("links"), QStringLiteral("delete"), QStringLiteral("nosuch")});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_TRUE(unknown.err.contains(QStringLiteral("no recent link has the id nosuch"))) << unknown.err.toStdString();
}

TEST_F(RunningAppCommand, AFailedUploadExitsOneAndNamesTheKeptFile)
{
    startApp();
    // The service refuses every upload from now on.
    m_server->terminate();
    const ChildRun record =
        mivra({QStringLiteral("record"), QStringLiteral("--silent"), QStringLiteral("--seconds"), QStringLiteral("1")});
    EXPECT_EQ(record.status, 1);
    EXPECT_TRUE(record.out.isEmpty()) << record.out.toStdString();
    EXPECT_TRUE(record.err.contains(QStringLiteral("Upload failed: "))) << record.err.toStdString();
    const qsizetype at = record.err.indexOf(QStringLiteral("Saved at "));
    ASSERT_GE(at, 0) << record.err.toStdString();
    EXPECT_TRUE(QFile::exists(record.err.mid(at + 9).trimmed()));
}

TEST_F(RunningAppCommand, ASecondRecordingIsRefusedWhileOneRuns)
{
    startApp();
    QProcess first;
    first.setProcessEnvironment(m_home.env);
    first.start(appBinary(), {QStringLiteral("record"), QStringLiteral("--silent"), QStringLiteral("--no-mic"),
                              QStringLiteral("--seconds"), QStringLiteral("2")});
    QByteArray firstErr;
    ASSERT_TRUE(waitUntil(
        [&] {
            firstErr += first.readAllStandardError();
            return firstErr.contains("Recording in Mivra Video");
        },
        60000))
        << firstErr.toStdString();
    const ChildRun second = mivra({QStringLiteral("record"), QStringLiteral("--silent")});
    EXPECT_EQ(second.status, 1);
    EXPECT_TRUE(second.err.contains(QStringLiteral("A recording is already under way."))) << second.err.toStdString();
    ASSERT_TRUE(waitUntil([&] { return first.state() == QProcess::NotRunning; }, 60000));
    EXPECT_EQ(first.exitCode(), 0);
}

} // namespace
