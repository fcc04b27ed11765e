// `mivra upload` and `mivra links` as a user runs them, against the scripted
// server, in a private home folder.
#include "PrivateHome.h"
#include "ServiceRig.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>

namespace {

// `mivra` with no display, in a private home, against the scripted server.
class CommandLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!QFile::exists(appBinary()))
            GTEST_SKIP() << "the mivra binary is not built in this tree";
        home.env.remove(QStringLiteral("DISPLAY"));
        home.env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        QObject::connect(&app, &QLocalServer::newConnection, &app,
                         [this] { app.nextPendingConnection()->disconnectFromServer(); });
    }

    ChildRun run(const QStringList &arguments)
    {
        QProcess process;
        process.setProcessEnvironment(home.env);
        process.start(appBinary(), arguments);
        // The scripted server answers on this thread's loop: keep it turning.
        if (!waitUntil([&] { return process.state() == QProcess::NotRunning; }, 20000)) {
            ADD_FAILURE() << "mivra did not end";
            stopChild(process);
        }
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
    }

    // Pretends an older tray app runs: it listens on its instance socket and
    // hangs up on a greeting it does not know, so commands go on without it.
    void setAppRunning(bool running)
    {
        app.close();
        if (running)
            app.listen(home.path(QStringLiteral("mivra-instance")));
    }

    // A short real video (the command refuses files without a video stream).
    QString makeVideo(const QString &name = QStringLiteral("rec.mp4"))
    {
        const QString path = rig.dir.filePath(name);
        QProcess::execute(QStringLiteral("ffmpeg"), {"-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                                     "testsrc=s=64x48:r=10:d=0.3", "-pix_fmt", "yuv420p", path});
        return path;
    }

    ServiceRig rig;
    const QString link = rig.server.origin().toString() + "/v/vid1";
    PrivateHome home{rig.server.origin().toString()};
    QLocalServer app;
};

} // namespace

TEST_F(CommandLine, UploadPrintsTheLinkAloneAndRemembersIt)
{
    rig.server.partSize = 100;
    const QString file = makeVideo(QStringLiteral("Team demo.v2.mp4"));
    const ChildRun upload = run({"upload", file, "--lifetime", "3d12h"});
    EXPECT_EQ(std::make_tuple(upload.status, upload.out), std::make_tuple(0, link + "\n")) << upload.err.toStdString();

    QJsonObject create = QJsonDocument::fromJson(rig.server.requests.at(0).body).object();
    create.remove("durationMs");
    EXPECT_EQ(QJsonDocument(create).toJson(QJsonDocument::Compact),
              R"({"contentType":"video/mp4","height":48,"lifetime":302400,"title":"Team demo.v2","width":64})");
    EXPECT_EQ(rig.server.uploadedBytes(), rig.fileBytes(file));

    const ChildRun links = run({"links", "--json"});
    const QJsonArray array = QJsonDocument::fromJson(links.out.toUtf8()).array();
    ASSERT_EQ(array.size(), 1) << links.err.toStdString();
    QJsonObject listed = array.at(0).toObject();
    const QString createdAt = listed.take("createdAt").toString();
    EXPECT_TRUE(QDateTime::fromString(createdAt, Qt::ISODate).isValid() && createdAt.endsWith('Z'))
        << createdAt.toStdString();
    EXPECT_EQ(
        listed,
        (QJsonObject{
            {"id", "vid1"}, {"title", "Team demo.v2"}, {"shareUrl", link}, {"expiresAt", "2100-01-01T00:00:00Z"}}));
}

TEST_F(CommandLine, UploadRefusesWhatCannotBeSharedBeforeSendingAnything)
{
    const struct {
        QStringList arguments;
        int status; // 2: the command line itself is wrong
        const char *sentence;
    } cases[] = {
        {{"upload", makeVideo(), "--lifetime", "30m"},
         2,
         "\"30m\" isn't a length we can use. Try 12h, 3d, 2w, 3mo or 1y: at least an hour, at most 10 years."},
        {{"upload", rig.makeFile(100, QStringLiteral("notes.mp4"))},
         1,
         "has no video in it; only videos can be shared."},
        {{"upload", makeVideo(), "--title", QString(1001, QLatin1Char('t'))},
         1,
         "The title is longer than 1000 characters; shorten it."},
    };
    for (const auto &c : cases) {
        const ChildRun result = run(c.arguments);
        EXPECT_EQ(result.status, c.status) << c.sentence;
        EXPECT_TRUE(result.err.contains(QString::fromUtf8(c.sentence))) << result.err.toStdString();
        EXPECT_TRUE(result.out.isEmpty());
    }
    EXPECT_TRUE(rig.server.requests.isEmpty());
}

TEST_F(CommandLine, FailedEditsPrintTheirTextAndExitNonZero)
{
    ASSERT_EQ(run({"upload", makeVideo(), "--title", "Keep"}).status, 0);
    // Every edit and the refresh, refused by the service: its sentence, exit 1, the link kept.
    rig.server.script = [](const RecordedRequest &) { return ScriptedReply::json(500, "storage offline"); };
    const struct {
        QStringList arguments;
        const char *sentence;
    } cases[] = {
        {{"links", "delete", "vid1"}, "Could not delete: Server returned 500: storage offline"},
        {{"links", "rename", "vid1", "Other"}, "Could not rename it: Server returned 500: storage offline"},
        {{"links", "expire", "vid1", "forever"},
         "Could not change how long it lasts: Server returned 500: storage offline"},
        {{"links", "refresh"}, "Server returned 500: storage offline"},
    };
    for (const auto &c : cases) {
        const ChildRun result = run(c.arguments);
        EXPECT_EQ(result.status, 1) << c.sentence;
        EXPECT_TRUE(result.err.contains(QString::fromUtf8(c.sentence))) << result.err.toStdString();
    }
    EXPECT_EQ(run({"links"}).out.count("Keep"), 1);

    rig.server.script = {};
    EXPECT_EQ(run({"links", "delete", "vid1"}).status, 0);
    EXPECT_TRUE(run({"links"}).out.isEmpty());
    EXPECT_EQ(run({"links", "delete", "vid1"}).status, 1); // no such recent link any more
}

TEST_F(CommandLine, WhileTheAppRunsTheRecentListIsLeftToIt)
{
    setAppRunning(true);
    const ChildRun upload = run({"upload", makeVideo()});
    EXPECT_EQ(upload.status, 0);
    EXPECT_EQ(upload.out, link + "\n");
    EXPECT_TRUE(upload.err.contains("is older and cannot answer the command line; the file goes up from here."))
        << upload.err.toStdString();
    EXPECT_TRUE(upload.err.contains("not added to its recent links")) << upload.err.toStdString();
    EXPECT_TRUE(run({"links"}).out.isEmpty());

    setAppRunning(false);
    ASSERT_EQ(run({"upload", makeVideo(), "--title", "Mine"}).status, 0);
    setAppRunning(true);
    // Done on the service; the app's next refresh drops it from its list.
    const ChildRun del = run({"links", "delete", "vid1"});
    EXPECT_EQ(del.status, 0) << del.err.toStdString();
    EXPECT_EQ(rig.server.requestsTo("DELETE", "/api/videos/vid1").size(), 1);
    EXPECT_EQ(run({"links"}).out.count("Mine"), 1);
}
