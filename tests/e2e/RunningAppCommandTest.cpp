// The command line with the app running: record, upload and links go
// through the app, which answers; their links are in its list at once.

#include "Await.h"
#include "FfprobeReport.h"
#include "RoadRig.h"

#include "platform/FilePreferenceStore.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <csignal>

namespace {

class RunningAppCommand : public RoadRig {
protected:
    void SetUp() override
    {
        RoadRig::SetUp();
        setMic(false);
    }
    void setMic(bool on) { FilePreferenceStore(home.preferencesPath()).setValue(QStringLiteral("micEnabled"), on); }
    ChildRun mivra(const QStringList &arguments) { return runApp(arguments, home.env, 60000); }
    // The app's list, as `mivra links --json` prints it: titles by link, newest first.
    QList<std::pair<QString, QString>> appLinks()
    {
        QList<std::pair<QString, QString>> links;
        for (const QJsonValue &link : QJsonDocument::fromJson(mivra({"links", "--json"}).out.toUtf8()).array())
            links.append({link[QStringLiteral("shareUrl")].toString(), link[QStringLiteral("title")].toString()});
        return links;
    }
};

TEST_F(RunningAppCommand, RecordPrintsTheLinkThatLeadsTheAppsList)
{
    // The app records sound; --no-mic holds for this recording only.
    setMic(true);
    startApp();
    const ChildRun record = mivra({"record", "--silent", "--seconds", "1", "--no-mic"});
    ASSERT_EQ(record.status, 0) << record.err.toStdString() << home.log().toStdString();
    const QString link = record.out.trimmed();
    EXPECT_TRUE(link.startsWith(origin + QStringLiteral("/v/"))) << record.out.toStdString();
    EXPECT_TRUE(record.err.contains(QStringLiteral("Recording in Mivra Video"))) << record.err.toStdString();
    EXPECT_EQ(appLinks().value(0).first, link);
    const FfprobeReport report = ffprobe(fetch(link.section(QLatin1Char('/'), -1)));
    EXPECT_EQ(std::pair(report.video.isEmpty(), report.audio.isEmpty()), std::pair(false, true)) << "picture, no sound";
    EXPECT_EQ(FilePreferenceStore(home.preferencesPath()).boolValue(QStringLiteral("micEnabled")), true);
}

TEST_F(RunningAppCommand, UploadAndRenameShowInTheAppsListAtOnce)
{
    const QString file = home.path(QStringLiteral("clip.mp4"));
    ASSERT_EQ(mivra({"record", "--output", file, "--seconds", "1"}).status, 0);
    startApp();
    const ChildRun upload = mivra({"upload", file, "--title", "Q & A"});
    ASSERT_EQ(upload.status, 0) << upload.err.toStdString();
    const QString link = upload.out.trimmed();
    ASSERT_EQ(appLinks().value(0), std::make_pair(link, QStringLiteral("Q & A")));

    const ChildRun rename = mivra({"links", "rename", link.section(QLatin1Char('/'), -1), "Renamed"});
    ASSERT_EQ(rename.status, 0) << rename.err.toStdString();
    EXPECT_EQ(appLinks().value(0), std::make_pair(link, QStringLiteral("Renamed")));

    const ChildRun unknown = mivra({"links", "delete", "nosuch"});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_TRUE(unknown.err.contains(QStringLiteral("no recent link has the id nosuch"))) << unknown.err.toStdString();
}

TEST_F(RunningAppCommand, AFailedUploadExitsOneAndNamesTheKeptFile)
{
    startApp();
    // The service refuses every upload from now on.
    server->terminate();
    const ChildRun record = mivra({"record", "--silent", "--seconds", "1"});
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
    // The first runs until Ctrl-C, however slow the second is to ask.
    QProcess first;
    QByteArray firstErr;
    ASSERT_TRUE(startRecording(first, {"--silent", "--no-mic"}, firstErr)) << firstErr.toStdString();
    const ChildRun second = mivra({"record", "--silent"});
    EXPECT_EQ(second.status, 1);
    EXPECT_TRUE(second.err.contains(QStringLiteral("A recording is already under way."))) << second.err.toStdString();
    ASSERT_TRUE(awaitFirstPictures());
    ::kill(pid_t(first.processId()), SIGINT);
    EXPECT_TRUE(ended(first, firstErr).startsWith("exit 0:" + origin)) << firstErr.toStdString();
}

} // namespace
