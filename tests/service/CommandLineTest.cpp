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

// `mivra` with no display, in a private home, against `origin`.
class CommandLine {
public:
    explicit CommandLine(const QUrl &origin) : m_home(origin.toString())
    {
        m_home.env.remove(QStringLiteral("DISPLAY"));
        m_home.env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        QObject::connect(&m_app, &QLocalServer::newConnection, &m_app,
                         [this] { m_app.nextPendingConnection()->disconnectFromServer(); });
    }

    ChildRun run(const QStringList &arguments)
    {
        QProcess process;
        process.setProcessEnvironment(m_home.env);
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
        m_app.close();
        if (running)
            m_app.listen(m_home.path(QStringLiteral("mivra-instance")));
    }

private:
    PrivateHome m_home;
    QLocalServer m_app;
};

// A short real video (the command refuses files without a video stream).
QString makeVideo(ServiceRig &rig, const QString &name = QStringLiteral("rec.mp4"))
{
    const QString path = rig.dir.filePath(name);
    QProcess::execute(QStringLiteral("ffmpeg"), {"-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                                 "testsrc=s=64x48:r=10:d=0.3", "-pix_fmt", "yuv420p", path});
    return path;
}

#define REQUIRE_BINARY()                                                                                               \
    if (!QFile::exists(appBinary()))                                                                                   \
    GTEST_SKIP() << "the mivra binary is not built in this tree"

} // namespace

TEST(CommandLine, UploadPrintsTheLinkAloneAndRemembersIt)
{
    REQUIRE_BINARY();
    ServiceRig rig;
    rig.server.partSize = 100;
    CommandLine cli(rig.server.origin());
    const QString file = makeVideo(rig, QStringLiteral("Team demo.v2.mp4"));
    const ChildRun upload = cli.run({"upload", file, "--lifetime", "3d12h"});
    EXPECT_EQ(upload.status, 0) << upload.err.toStdString();
    EXPECT_EQ(upload.out, rig.server.origin().toString() + "/v/vid1\n");

    const QJsonObject create = QJsonDocument::fromJson(rig.server.requests.at(0).body).object();
    EXPECT_EQ(create.value("title").toString(), "Team demo.v2");
    EXPECT_EQ(create.value("lifetime").toInteger(), 302400);
    EXPECT_EQ(create.value("width").toInt(), 64);
    EXPECT_EQ(rig.server.uploadedBytes(), rig.fileBytes(file));

    const ChildRun links = cli.run({"links", "--json"});
    ASSERT_EQ(links.status, 0) << links.err.toStdString();
    const QJsonArray array = QJsonDocument::fromJson(links.out.toUtf8()).array();
    ASSERT_EQ(array.size(), 1);
    const QJsonObject link = array.at(0).toObject();
    EXPECT_EQ(link.value("id").toString(), "vid1");
    EXPECT_EQ(link.value("title").toString(), "Team demo.v2");
    EXPECT_EQ(link.value("shareUrl").toString(), rig.server.origin().toString() + "/v/vid1");
    EXPECT_EQ(link.value("expiresAt").toString(), "2100-01-01T00:00:00Z");
    EXPECT_TRUE(QDateTime::fromString(link.value("createdAt").toString(), Qt::ISODate).isValid());
    EXPECT_TRUE(link.value("createdAt").toString().endsWith('Z'));
}

TEST(CommandLine, UploadRefusesWhatCannotBeSharedBeforeSendingAnything)
{
    REQUIRE_BINARY();
    ServiceRig rig;
    CommandLine cli(rig.server.origin());
    const struct {
        QStringList arguments;
        int status; // 2: the command line itself is wrong
        const char *sentence;
    } cases[] = {
        {{"upload", makeVideo(rig), "--lifetime", "30m"},
         2,
         "\"30m\" isn't a length we can use. Try 12h, 3d, 2w, 3mo or 1y: at least an hour, at most 10 years."},
        {{"upload", rig.makeFile(100, QStringLiteral("notes.mp4"))},
         1,
         "has no video in it; only videos can be shared."},
        {{"upload", makeVideo(rig), "--title", QString(1001, QLatin1Char('t'))},
         1,
         "The title is longer than 1000 characters; shorten it."},
    };
    for (const auto &c : cases) {
        const ChildRun result = cli.run(c.arguments);
        EXPECT_EQ(result.status, c.status) << c.sentence;
        EXPECT_TRUE(result.err.contains(QString::fromUtf8(c.sentence))) << result.err.toStdString();
        EXPECT_TRUE(result.out.isEmpty());
    }
    EXPECT_TRUE(rig.server.requests.isEmpty());
}

TEST(CommandLine, FailedEditsPrintTheirTextAndExitNonZero)
{
    REQUIRE_BINARY();
    ServiceRig rig;
    CommandLine cli(rig.server.origin());
    ASSERT_EQ(cli.run({"upload", makeVideo(rig), "--title", "Keep"}).status, 0);
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
        const ChildRun result = cli.run(c.arguments);
        EXPECT_EQ(result.status, 1) << c.sentence;
        EXPECT_TRUE(result.err.contains(QString::fromUtf8(c.sentence))) << result.err.toStdString();
    }
    EXPECT_EQ(cli.run({"links"}).out.count("Keep"), 1);

    rig.server.script = {};
    EXPECT_EQ(cli.run({"links", "delete", "vid1"}).status, 0);
    EXPECT_TRUE(cli.run({"links"}).out.isEmpty());
    EXPECT_EQ(cli.run({"links", "delete", "vid1"}).status, 1); // no such recent link any more
}

TEST(CommandLine, WhileTheAppRunsTheRecentListIsLeftToIt)
{
    REQUIRE_BINARY();
    ServiceRig rig;
    CommandLine cli(rig.server.origin());
    cli.setAppRunning(true);
    const ChildRun upload = cli.run({"upload", makeVideo(rig)});
    EXPECT_EQ(upload.status, 0);
    EXPECT_EQ(upload.out, rig.server.origin().toString() + "/v/vid1\n");
    EXPECT_TRUE(upload.err.contains("is older and cannot answer the command line; the file goes up from here."))
        << upload.err.toStdString();
    EXPECT_TRUE(upload.err.contains("not added to its recent links")) << upload.err.toStdString();
    EXPECT_TRUE(cli.run({"links"}).out.isEmpty());

    cli.setAppRunning(false);
    ASSERT_EQ(cli.run({"upload", makeVideo(rig), "--title", "Mine"}).status, 0);
    cli.setAppRunning(true);
    // Done on the service; the app's next refresh drops it from its list.
    const ChildRun del = cli.run({"links", "delete", "vid1"});
    EXPECT_EQ(del.status, 0) << del.err.toStdString();
    EXPECT_EQ(rig.server.requestsTo("DELETE", "/api/videos/vid1").size(), 1);
    EXPECT_EQ(cli.run({"links"}).out.count("Mine"), 1);
}
