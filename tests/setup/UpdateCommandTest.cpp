#include "BundleRig.h"
#include "FeedServer.h"

#include "setup/BundleInfo.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLocalServer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {
struct Outcome {
    int status = -1;
    QString out, err;
};

const QString kBuiltBinary = QStringLiteral(MIVRA_BINARY_DIR "/src/mivra");

// `mivra update` as a child, while this process serves the feed.
Outcome runMivra(const QString &binary, const QStringList &arguments, const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(60'000, &loop, &QEventLoop::quit); // a guard, not a wait
    process.start(binary, QStringList{QStringLiteral("update")} + arguments);
    loop.exec();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
}

class UpdateCommandTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Beside the build, so the program can be hard-linked into the bundle.
        ASSERT_TRUE(scratch.isValid());
        bundle = BundleRig::makeBundle(scratch.path(), QStringLiteral("Mivra Video"), QStringLiteral("1.2.0"));
        binary = bundle + QStringLiteral("/bin/mivra");
        QFile::remove(binary);
        ASSERT_EQ(::link(QFile::encodeName(kBuiltBinary).constData(), QFile::encodeName(binary).constData()), 0);
        QDir().mkpath(scratch.filePath(QStringLiteral("run")));
        QFile::setPermissions(scratch.filePath(QStringLiteral("run")),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), scratch.filePath(QStringLiteral("run")));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), scratch.filePath(QStringLiteral("data")));
        environment.insert(QStringLiteral("XDG_STATE_HOME"), scratch.filePath(QStringLiteral("state")));
        environment.insert(QStringLiteral("MIVRA_FEED_URL"), server.url(QStringLiteral("/appcast.xml")).toString());
        environment.insert(QStringLiteral("MIVRA_UPDATE_PUBLIC_KEY"), QString::fromLatin1(key.publicKeyBase64()));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        const QString made = BundleRig::makeBundle(scratch.filePath(QStringLiteral("build")),
                                                   QStringLiteral("Mivra Video"), QStringLiteral("1.10.0"));
        archive = BundleRig::packTarXz(made);
    }

    void publish(const QByteArray &version)
    {
        server.files["/appcast.xml"] = {
            "<rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel><item>"
            "<sparkle:version>" +
            version + "</sparkle:version><enclosure url=\"/m.tar.xz\" length=\"" + QByteArray::number(archive.size()) +
            "\" sparkle:edSignature=\"" + key.signBase64(archive) + "\"/></item></channel></rss>"};
        server.files["/m.tar.xz"] = {archive};
    }

    QTemporaryDir scratch{QStringLiteral(MIVRA_BINARY_DIR "/update-command-XXXXXX")};
    QString bundle, binary;
    QByteArray archive;
    BundleRig::KeyPair key;
    FeedServer server;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
};

TEST_F(UpdateCommandTest, ChecksSaysWhyAndRefusesWhileTheAppRecords)
{
    const struct {
        QByteArray feedVersion; // empty: no feed
        bool appBusy;
        QStringList arguments;
        int status;
        QString out, err;
    } cases[] = {
        {"1.10.0", false, {"--check"}, 0, "Mivra Video 1.10.0 is available\n", ""},
        {"1.1", false, {"--check"}, 0, "Mivra Video is up to date (1.2.0)\n", ""},
        {"", false, {"--check"}, 1, "", "mivra: The update feed could not be read: "},
        {"1.10.0", true, {}, 1, "", "mivra: Mivra Video is recording or uploading"},
        {"1.10.0", false, {"--now"}, 2, "", "mivra: update takes only --check"},
    };
    for (const auto &c : cases) {
        server.files.clear();
        if (!c.feedVersion.isEmpty())
            publish(c.feedVersion);
        QLocalServer app;
        const QString busy = scratch.filePath(QStringLiteral("run/mivra-busy"));
        if (c.appBusy) {
            ASSERT_TRUE(app.listen(scratch.filePath(QStringLiteral("run/mivra-instance"))));
            QFile(busy).open(QIODevice::WriteOnly);
        }
        const Outcome outcome = runMivra(binary, c.arguments, environment);
        QFile::remove(busy);
        EXPECT_EQ(outcome.status, c.status) << qPrintable(c.arguments.join(' ') + outcome.err);
        EXPECT_EQ(outcome.out, c.out);
        EXPECT_TRUE(c.err.isEmpty() ? outcome.err.isEmpty() : outcome.err.startsWith(c.err)) << qPrintable(outcome.err);
    }
    EXPECT_EQ(BundleInfo::read(bundle)->version, QStringLiteral("1.2.0"));
}

TEST_F(UpdateCommandTest, InstallsTheNewerBundleInPlace)
{
    QDir().mkpath(scratch.filePath(QStringLiteral("data")));
    publish("1.10.0");
    const Outcome outcome = runMivra(binary, {}, environment);
    EXPECT_EQ(outcome.status, 0) << qPrintable(outcome.err);
    EXPECT_EQ(outcome.out, QStringLiteral("Mivra Video 1.10.0 is available\nMivra Video 1.10.0 is installed\n"));
    EXPECT_EQ(BundleInfo::read(bundle)->version, QStringLiteral("1.10.0"));
}

TEST_F(UpdateCommandTest, APackageInstallPointsToThePackageManager)
{
    publish("1.10.0");
    const struct {
        QStringList arguments;
        int status;
    } cases[] = {{{"--check"}, 0}, {{}, 1}};
    for (const auto &c : cases) {
        const Outcome outcome = runMivra(kBuiltBinary, c.arguments, environment);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_TRUE((outcome.out + outcome.err).contains(QStringLiteral("updates come from there")))
            << qPrintable(outcome.err);
    }
    EXPECT_EQ(server.requests, 0);
}
} // namespace
