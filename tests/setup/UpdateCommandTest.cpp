#include "Await.h"
#include "BundleRig.h"
#include "FeedServer.h"
#include "PrivateHome.h"

#include "setup/BundleInfo.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {
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
TEST(UpdateCommandTest, ChecksInstallsAndSaysWhyNot)
{
    QTemporaryDir scratch(QStringLiteral(MIVRA_BINARY_DIR "/update-command-XXXXXX"));
    const QString bundle = BundleRig::makeBundle(scratch.path(), "Mivra Video", "1.2.0");
    const QString binary = bundle + "/bin/mivra";
    QFile::remove(binary);
    ASSERT_EQ(::link(QFile::encodeName(appBinary()).constData(), QFile::encodeName(binary).constData()), 0);
    const QByteArray archive =
        BundleRig::packTarXz(BundleRig::makeBundle(scratch.filePath("build"), "Mivra Video", "1.10.0"));
    const BundleRig::KeyPair key;
    FeedServer server;
    PrivateHome home;
    QDir().mkpath(home.path("XDG_DATA_HOME"));
    QProcessEnvironment environment = home.env;
    environment.insert("MIVRA_FEED_URL", server.url("/appcast.xml").toString());
    environment.insert("MIVRA_UPDATE_PUBLIC_KEY", QString::fromLatin1(key.publicKeyBase64()));
    environment.insert("QT_QPA_PLATFORM", "offscreen");

    const struct {
        QByteArray feedVersion; // empty: no feed
        bool appBusy, packaged;
        QStringList arguments;
        int status;
        QString out, err; // err: how it starts
    } cases[] = {
        {"1.10.0", false, false, {"--check"}, 0, "Mivra Video 1.10.0 is available\n", ""},
        {"", false, false, {"--check"}, 1, "", "mivra: The update feed could not be read: "},
        {"1.10.0", true, false, {}, 1, "", "mivra: Mivra Video is recording or uploading"},
        {"1.10.0", false, false, {"--now"}, 2, "", "mivra: update takes only --check"},
        // A package install leaves the feed alone.
        {"1.10.0", false, true, {"--check"}, 0, kPackaged + "\n", ""},
        {"1.10.0", false, true, {}, 1, "", "mivra: " + kPackaged},
        // Last: the bundle is replaced in place.
        {"1.10.0",
         false,
         false,
         {},
         0,
         "Mivra Video 1.10.0 is available\nMivra Video 1.10.0 is installed\n",
         "Downloading Mivra Video 1.10.0…\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString() + " for " + c.feedVersion.toStdString());
        server.files.clear();
        if (!c.feedVersion.isEmpty()) {
            server.files["/appcast.xml"] = {BundleRig::feed(
                {BundleRig::feedItem(c.feedVersion, QUrl("/m.tar.xz"), archive.size(), key.signBase64(archive))})};
            server.files["/m.tar.xz"] = {archive};
        }
        QLocalServer app;
        const QString busy = home.path("mivra-busy");
        if (c.appBusy) {
            ASSERT_TRUE(app.listen(home.path("mivra-instance")));
            QFile(busy).open(QIODevice::WriteOnly);
        }
        const int requestsBefore = server.requests;
        const ChildRun outcome = runUpdate(c.packaged ? appBinary() : binary, c.arguments, environment);
        QFile::remove(busy);
        EXPECT_EQ(outcome.status, c.status) << outcome.err.toStdString();
        EXPECT_EQ(outcome.out, c.out);
        EXPECT_TRUE(c.err.isEmpty() ? outcome.err.isEmpty() : outcome.err.startsWith(c.err)) << qPrintable(outcome.err);
        if (c.packaged) {
            EXPECT_EQ(server.requests, requestsBefore);
        }
    }
    EXPECT_EQ(BundleInfo::read(bundle)->version, "1.10.0");
}
} // namespace
