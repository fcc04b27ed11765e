#include "Await.h"
#include "BundleRig.h"
#include "FeedServer.h"
#include "SetupRig.h"

#include "setup/Appcast.h"
#include "setup/Updates.h"
#include "setup/UpdatesWindowHost.h"

#include <QLocalServer>
#include <QNetworkAccessManager>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {
using State = Updates::State;

using BundleRig::feed;
using BundleRig::feedItem;

class UpdatesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QDir().mkpath(qEnvironmentVariable("XDG_DATA_HOME"));
        const QString launched = apps.filePath("launched");
        installed = BundleRig::makeBundle(apps.path(), "Mivra Video", "1.2.0", BundleRig::kOurs, launched);
        before = BundleRig::treeDigest(installed);
        // The newer bundle is made elsewhere and published as an archive.
        archive = BundleRig::packTarXz(
            BundleRig::makeBundle(build.path(), "Mivra Video", "1.10.0", BundleRig::kOurs, launched));
        ASSERT_FALSE(archive.isEmpty());
        launcher.real = &processes;
    }

    std::unique_ptr<Updates> makeUpdates()
    {
        return std::make_unique<Updates>(Updates::Config{.bundle = BundleInfo::read(installed),
                                                         .feedUrl = server.url(QStringLiteral("/appcast.xml")),
                                                         .publicKey = key.publicKeyBase64(),
                                                         .mayCheck = [this] { return idle; },
                                                         .launcher = &launcher,
                                                         .quit = [this] { ++quits; }},
                                         &network);
    }

    void publish(const QByteArray &version, const QByteArray &bytes, qint64 feedLength, const QByteArray &signature,
                 qint64 announced = -1)
    {
        server.files["/appcast.xml"] = {
            feed({feedItem(version, server.url(QStringLiteral("/mivra.tar.xz")), feedLength, signature)})};
        server.files["/mivra.tar.xz"] = {bytes, announced};
    }

    PrivateHome home{PrivateHome::thisProcess};
    QTemporaryDir apps, build;
    QString installed;
    QByteArray before, archive;
    BundleRig::KeyPair key;
    FeedServer server;
    QNetworkAccessManager network;
    ProcessLauncher processes;
    FakeLauncher launcher;
    bool idle = true;
    int quits = 0;
};

TEST_F(UpdatesTest, ComparesTheFeedWithTheInstalledVersion)
{
    const struct {
        QByteArray feed; // empty: none served
        State state;
        QString message;
    } cases[] = {
        {feed({feedItem("1.10.0", QUrl("a.tar.xz"), 1, "x"), feedItem("1.9.9", QUrl("b.tar.xz"), 1, "x")}),
         State::available, "Mivra Video 1.10.0 is available"},
        {feed({feedItem("1.2.0", QUrl("a.tar.xz"), 1, "x")}), State::upToDate, "Mivra Video is up to date (1.2.0)"},
        {feed({feedItem("1.1.9", QUrl("a.tar.xz"), 1, "x")}), State::upToDate, "Mivra Video is up to date (1.2.0)"},
        {feed({}), State::upToDate, "Mivra Video is up to date (1.2.0)"},
        {"<rss><channel><item><title>cut", State::failed, "The update feed is not valid XML"},
        {"<html><body>gone</body></html>", State::failed, "The update feed is not an RSS feed."},
        {"", State::failed, "The update feed could not be read: "},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.feed.constData());
        server.files.remove("/appcast.xml");
        if (!c.feed.isEmpty())
            server.files["/appcast.xml"] = {c.feed};
        auto updates = makeUpdates();
        EXPECT_TRUE(run(updates->check()));
        EXPECT_EQ(std::pair(updates->state(), updates->message().left(c.message.size())),
                  std::pair(c.state, c.message));
    }
}

// A refused install leaves the installed bundle untouched.
TEST_F(UpdatesTest, ABadDownloadLeavesTheInstalledBundleUntouched)
{
    const qint64 size = archive.size();
    const struct {
        const char *name;
        QByteArray bytes;
        qint64 feedLength;
        QByteArray signature;
        qint64 announced;
        QString because;
        bool busy = false; // a recording starts before the install
    } cases[] = {
        {"wrong length", archive, size + 1, key.signBase64(archive), -1, "The download has"},
        {"longer than announced", archive, size - 1, key.signBase64(archive), -1, "The download is larger"},
        {"bad signature", archive, size, key.signBase64(archive + "x"), -1, "The download's signature does not match"},
        {"other key", archive, size, BundleRig::KeyPair{QByteArray(32, 'o')}.signBase64(archive), -1,
         "The download's signature"},
        {"no signature", archive, size, "", -1, "The feed does not sign this update"},
        {"truncated", archive.left(size / 2), size, key.signBase64(archive), size, "The download did not complete: "},
        {"not a bundle", "not xz", 6, key.signBase64("not xz"), -1, "The update could not be unpacked"},
        // Last: the app stays busy.
        {"busy", archive, size, key.signBase64(archive), -1, "Mivra Video is recording", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        publish("1.10.0", c.bytes, c.feedLength, c.signature, c.announced);
        auto updates = makeUpdates();
        run(updates->check());
        ASSERT_EQ(updates->state(), State::available);
        idle = !c.busy;
        run(updates->install());
        EXPECT_EQ(std::tuple(updates->state(), updates->message().left(c.because.size()), launcher.launched),
                  std::tuple(State::failed, c.because, QStringList{}));
        EXPECT_EQ(BundleRig::treeDigest(installed), before);
    }
    EXPECT_EQ(QDir(apps.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{QStringLiteral("Mivra Video")});
}

TEST_F(UpdatesTest, ChecksAreRefusedWhileTheAppIsBusy)
{
    publish("1.10.0", archive, archive.size(), key.signBase64(archive));
    auto updates = makeUpdates();
    idle = false;
    QSignalSpy window(updates.get(), &Updates::windowRequested);
    updates->checkForUpdates();
    EXPECT_FALSE(run(updates->check()));
    EXPECT_EQ(std::tuple(window.count(), server.requests, updates->state()), std::tuple(0, 0, State::idle));
}

// From a folder (file:// replies deliver differently); the update command's
// test downloads one over HTTP.
TEST_F(UpdatesTest, AGoodUpdateIsSwappedInAndRelaunched)
{
    qputenv("MIVRA_PREVIEW_SETUP", "camera");
    BundleRig::write(build.filePath(QStringLiteral("m.tar.xz")), archive);
    server.files["/appcast.xml"] = {feed({feedItem("1.10.0", QUrl::fromLocalFile(build.filePath("m.tar.xz")),
                                                   archive.size(), key.signBase64(archive))})};
    auto updates = makeUpdates();
    run(updates->check());
    run(updates->install());
    qunsetenv("MIVRA_PREVIEW_SETUP");
    ASSERT_EQ(quits, 1) << qPrintable(updates->message());
    EXPECT_EQ(BundleInfo::read(installed)->version, QStringLiteral("1.10.0"));
    EXPECT_EQ(launcher.launched, QStringList{installed + QStringLiteral("/AppRun")});
    // The new copy really starts, from where the old one was, with our environment.
    QFile launched(apps.filePath(QStringLiteral("launched")));
    ASSERT_TRUE(waitUntil([&] { return launched.exists(); }, 20000));
    ASSERT_TRUE(launched.open(QIODevice::ReadOnly));
    EXPECT_EQ(launched.readAll(), "MIVRA_PREVIEW_SETUP=camera\nversion=1.10.0 at " + installed.toUtf8() + "\n");
    // Nothing is left beside the installed copy; the old one is in the Trash.
    EXPECT_EQ(QDir(apps.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{QStringLiteral("Mivra Video")});
    EXPECT_EQ(QDir(home.path(QStringLiteral("XDG_DATA_HOME/Trash/files"))).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("Mivra Video")});
}

const QString kPackaged =
    QStringLiteral("Mivra Video was installed by your package manager, so updates come from there.");

// `mivra update` as a child; the loop runs meanwhile, so this process serves the feed.
ChildRun runUpdate(const QString &binary, const QStringList &arguments, const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(binary, QStringList{QStringLiteral("update")} + arguments);
    if (!waitUntil([&] { return process.state() == QProcess::NotRunning; }, 60000))
        stopChild(process);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
}

// The built program, hard-linked into a scratch bundle of version 1.2.0 beside
// the build (same file system), against a feed that may offer 1.10.0.
TEST_F(UpdatesTest, TheUpdateCommandChecksInstallsAndSaysWhyNot)
{
    QTemporaryDir scratch(QStringLiteral(MIVRA_BINARY_DIR "/update-command-XXXXXX"));
    const QString bundle = BundleRig::makeBundle(scratch.path(), "Mivra Video", "1.2.0");
    const QString binary = bundle + "/bin/mivra";
    QFile::remove(binary);
    ASSERT_EQ(::link(QFile::encodeName(appBinary()).constData(), QFile::encodeName(binary).constData()), 0);
    QProcessEnvironment environment = home.env;
    environment.insert("MIVRA_FEED_URL", server.url("/appcast.xml").toString());
    environment.insert("MIVRA_UPDATE_PUBLIC_KEY", QString::fromLatin1(key.publicKeyBase64()));
    environment.insert("QT_QPA_PLATFORM", "offscreen");

    const struct {
        QByteArray feedVersion; // empty: no feed
        QString app;            // "busy", "packaged" or a bundle's idle copy
        QStringList arguments;
        int status;
        QString out, err; // err: how it starts
    } cases[] = {
        {"1.10.0", "", {"--check"}, 0, "Mivra Video 1.10.0 is available\n", ""},
        {"", "", {"--check"}, 1, "", "mivra: The update feed could not be read: "},
        {"1.10.0", "busy", {}, 1, "", "mivra: Mivra Video is recording or uploading"},
        {"1.10.0", "", {"--now"}, 2, "", "mivra: update takes only --check"},
        // A package install leaves the feed alone.
        {"1.10.0", "packaged", {"--check"}, 0, kPackaged + "\n", ""},
        {"1.10.0", "packaged", {}, 1, "", "mivra: " + kPackaged},
        // Last: the bundle is replaced in place.
        {"1.10.0", "", {}, 0, "Mivra Video 1.10.0 is available\nMivra Video 1.10.0 is installed\n", "Downloading"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString() + " for " + c.feedVersion.toStdString());
        server.files.clear();
        if (!c.feedVersion.isEmpty())
            publish(c.feedVersion, archive, archive.size(), key.signBase64(archive));
        QLocalServer app;
        const QString busy = home.path("mivra-busy");
        if (c.app == "busy") {
            ASSERT_TRUE(app.listen(home.path("mivra-instance")));
            QFile(busy).open(QIODevice::WriteOnly);
        }
        const int requestsBefore = server.requests;
        const ChildRun outcome = runUpdate(c.app == "packaged" ? appBinary() : binary, c.arguments, environment);
        QFile::remove(busy);
        EXPECT_EQ(outcome.status, c.status) << outcome.err.toStdString();
        EXPECT_EQ(outcome.out, c.out);
        EXPECT_TRUE(c.err.isEmpty() ? outcome.err.isEmpty() : outcome.err.startsWith(c.err)) << qPrintable(outcome.err);
        if (!c.app.isEmpty()) // neither a busy app nor a package install asks the feed
            EXPECT_EQ(server.requests, requestsBefore);
    }
    EXPECT_EQ(BundleInfo::read(bundle)->version, "1.10.0");
}

// The window, rendered with the software renderer, shows what the check found.
TEST_F(UpdatesTest, TheUpdatesWindowFollowsTheCheck)
{
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    server.files["/appcast.xml"] = {
        feed({feedItem("1.10.0", QUrl("/m.tar.xz"), 9, "x",
                       "<ul><li>Links are ready sooner.</li><li>The bubble keeps its place.</li></ul>")})};
    auto updates = makeUpdates();
    UpdatesWindowHost host(*updates);
    updates->checkForUpdates();
    ASSERT_TRUE(host.window());
    ASSERT_TRUE(waitUntil([&] { return !updates->busy(); }, 20000));
    const auto *message = host.window()->findChild<QObject *>("updateMessage");
    EXPECT_EQ(message ? message->property("text").toString() : QString(), "Mivra Video 1.10.0 is available");
    EXPECT_FALSE(render(*host.window(), "updates-available").isNull());
}

TEST(AppcastTest, ReadsTheEnclosureAndResolvesRelativeAddresses)
{
    const QByteArray appcast = feed({"<item><enclosure url=\"dl/m.tar.xz\" length=\"12\" sparkle:version=\"7\" "
                                     "sparkle:shortVersionString=\"2.0\" sparkle:edSignature=\"c2ln\"/>"
                                     "<sparkle:releaseNotesLink>notes/2.0.html</sparkle:releaseNotesLink></item>",
                                     "<item><title>no enclosure</title><sparkle:version>9</sparkle:version></item>"});
    const auto items = Appcast::parse(appcast, QUrl("https://example.org/feed/appcast.xml"));
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(std::tuple(items[0].version, items[0].displayVersion(), items[0].url, items[0].notesLink, items[0].length,
                         items[0].edSignature),
              std::tuple(QStringLiteral("7"), QStringLiteral("2.0"), QUrl("https://example.org/feed/dl/m.tar.xz"),
                         QUrl("https://example.org/feed/notes/2.0.html"), qint64(12), QByteArray("c2ln")));
}

TEST(VersionTest, ComparesSegmentsAsNumbers)
{
    const struct {
        const char *a, *b;
        int expected;
    } cases[] = {{"1.10", "1.9", 1}, {"1.2", "1.2.0", -1}, {"2.0", "2.0", 0}, {"1.0.1", "1.0.beta", 1}, {"10", "9", 1}};
    for (const auto &c : cases)
        EXPECT_EQ(compareVersions(QString::fromLatin1(c.a), QString::fromLatin1(c.b)), c.expected) << c.a << " " << c.b;
}
} // namespace
