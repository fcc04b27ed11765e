#include "RoadRig.h"

#include "Await.h"
#include "FfprobeReport.h"

#include "platform/FilePreferenceStore.h"

#include <QDir>
#include <QGuiApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QStandardPaths>

#include <memory>

void RoadRig::SetUp()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X display (run under Xvfb)";
    if (!QFile::exists(appBinary()) || !ServerProcess::built())
        GTEST_SKIP() << "the app or mivra-server is not built in this tree";
    if (QStandardPaths::findExecutable(QStringLiteral("ffprobe")).isEmpty())
        GTEST_SKIP() << "needs ffprobe";
    server.emplace(home.path(QStringLiteral("server")).toStdString(), std::vector<std::string>{"--quiet"});
    ASSERT_TRUE(server->started());
    origin = QString::fromStdString(server->origin());
    home.env.insert(QStringLiteral("MIVRA_SERVICE_ORIGIN"), origin);
}

void RoadRig::startApp()
{
    app.setProcessEnvironment(home.env);
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    app.start(appBinary(), {});
    ASSERT_TRUE(home.waitForLog(QStringLiteral("start: idle in the tray after "), 30000)) << home.log().toStdString();
}

bool RoadRig::startRecording(QProcess &record, const QStringList &arguments, QByteArray &err) const
{
    record.setProcessEnvironment(home.env);
    record.setReadChannel(QProcess::StandardError);
    record.start(appBinary(), QStringList{QStringLiteral("record")} + arguments);
    // The first recording measures the encoder's speed before it starts.
    while (!err.contains("Ctrl-C") && record.waitForReadyRead(60000))
        err += record.readAllStandardError();
    return err.contains("Ctrl-C");
}

QString RoadRig::ended(QProcess &record, QByteArray &err) const
{
    record.waitForFinished(60000);
    err += record.readAllStandardError();
    if (record.state() != QProcess::NotRunning) {
        stopChild(record);
        return QStringLiteral("still running");
    }
    return QStringLiteral("exit %1:").arg(record.exitCode()) +
           QString::fromUtf8(record.readAllStandardOutput()).trimmed();
}

bool RoadRig::awaitFirstPictures() const
{
    return waitUntil(
        [this] {
            for (const QString &name : recordings())
                if (boxTypes(topLevelBoxes(home.recordingsFolder() + QLatin1Char('/') + name)).contains("moof"))
                    return true;
            return false;
        },
        30000);
}

QList<RecentLink> RoadRig::storedLinks() const
{
    return RecentLinkCoding::decode(FilePreferenceStore(home.preferencesPath())
                                        .dataValue(QStringLiteral("recentLinks"))
                                        .value_or(QByteArray()))
        .value_or(QList<RecentLink>());
}

QStringList RoadRig::recordings() const
{
    return QDir(home.recordingsFolder()).entryList({QStringLiteral("*.mp4")}, QDir::Files);
}

QString RoadRig::fetch(const QString &id) const
{
    QNetworkAccessManager network;
    std::unique_ptr<QNetworkReply> reply(network.get(QNetworkRequest(QUrl(origin + QStringLiteral("/r/") + id))));
    QFile file(home.path(id + QStringLiteral(".mp4")));
    if (!waitUntil([&reply] { return reply->isFinished(); }, 20000) || reply->error() != QNetworkReply::NoError ||
        !file.open(QIODevice::WriteOnly) || file.write(reply->readAll()) <= 0)
        return {};
    return file.fileName();
}
