// The real app under the test's X display, driven by later launches: a
// recording from "record?silent=1" to "stop" through the real recorder and
// uploader and the real mivra-server on 127.0.0.1 ends with the link on the
// clipboard, in the recent list and the file gone; a second one is
// discarded; the app stays the one instance throughout.

#include "Await.h"
#include "PrivateHome.h"
#include "ServerProcess.h"

#include "app/RecentLink.h"
#include "platform/FilePreferenceStore.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QSystemTrayIcon>
#include <QTest>
#include <gtest/gtest.h>

namespace {

TEST(RecordingRoad, SilentRecordEndsWithTheLinkOnTheClipboard)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X display (run under Xvfb)";
    if (!QFile::exists(appBinary()) || !ServerProcess::built())
        GTEST_SKIP() << "the app or mivra-server is not built in this tree";
    PrivateHome home;
    ServerProcess server(home.path("server").toStdString(), {"--quiet"});
    ASSERT_TRUE(server.started());
    const QString origin = QString::fromStdString(server.origin());
    home.env.insert(QStringLiteral("MIVRA_SERVICE_ORIGIN"), origin);
    // The screen alone: this test is about the road, not the microphone.
    FilePreferenceStore(home.preferencesPath()).setValue(QStringLiteral("micEnabled"), false);

    QProcess app;
    app.setProcessEnvironment(home.env);
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const bool trayBefore = QSystemTrayIcon::isSystemTrayAvailable();
    app.start(appBinary(), {});
    ASSERT_TRUE(home.waitForLog(QStringLiteral("start: idle in the tray after "), 10000)) << home.log().toStdString();
    // Plain Xvfb has no tray (unless a parallel test runs its stand-in): the
    // app says so and opens its window instead.
    if (!trayBefore)
        EXPECT_TRUE(home.log().contains(QStringLiteral("tray: this desktop has no system tray")));

    ASSERT_EQ(runApp({QStringLiteral("mivra://record?silent=1")}, home.env).status, 0);
    // The first recording measures the encoder's speed before it starts.
    ASSERT_TRUE(home.waitForLog(QStringLiteral("phase recording"), 60000)) << home.log().toStdString();
    QTest::qWait(300); // something to record
    ASSERT_EQ(runApp({QStringLiteral("mivra://stop")}, home.env).status, 0);

    static const QRegularExpression complete(QStringLiteral("upload (\\S+): complete, link (\\S+)"));
    ASSERT_TRUE(waitUntil([&] { return complete.match(home.log()).hasMatch(); }, 60000)) << home.log().toStdString();
    const QRegularExpressionMatch done = complete.match(home.log());
    const QString link = done.captured(2);
    EXPECT_TRUE(link.startsWith(origin)) << link.toStdString();
    ASSERT_TRUE(home.waitForLog(QStringLiteral("phase idle"), 10000));

    // Copied, not opened; read from the app over the X clipboard.
    EXPECT_TRUE(waitUntil([&] { return QGuiApplication::clipboard()->text() == link; }))
        << QGuiApplication::clipboard()->text().toStdString();
    // The file went once the upload was done.
    const QStringList left = QDir(home.recordingsFolder()).entryList({QStringLiteral("*.mp4")}, QDir::Files);
    EXPECT_TRUE(left.isEmpty()) << left.join(' ').toStdString();
    // The recent list holds the link.
    const auto stored = RecentLinkCoding::decode(
        FilePreferenceStore(home.preferencesPath()).dataValue("recentLinks").value_or(QByteArray()));
    ASSERT_TRUE(stored.has_value());
    ASSERT_EQ(stored->size(), 1);
    EXPECT_EQ(stored->front().id, done.captured(1));
    EXPECT_EQ(stored->front().shareUrl, link);
    EXPECT_TRUE(stored->front().title.startsWith(QStringLiteral("Recording ")));
    EXPECT_FALSE(home.log().contains(QStringLiteral("Upload failed")));

    ASSERT_EQ(runApp({QStringLiteral("mivra://record")}, home.env).status, 0);
    ASSERT_TRUE(waitUntil([&] { return home.log().count(QStringLiteral("phase recording")) == 2; }, 30000));
    EXPECT_EQ(runApp({QStringLiteral("mivra://discard")}, home.env).status, 0);
    EXPECT_TRUE(home.waitForLog(QStringLiteral("discarded recording Mivra "), 15000)) << home.log().toStdString();
    EXPECT_TRUE(waitUntil([&] { return home.log().count(QStringLiteral("phase idle")) == 2; }));
    EXPECT_EQ(QDir(home.recordingsFolder()).entryList({QStringLiteral("*.mp4")}, QDir::Files), QStringList());

    // A plain launch only brings the running app forward.
    EXPECT_EQ(runApp({}, home.env).status, 0);
    EXPECT_EQ(app.state(), QProcess::Running);
    EXPECT_EQ(home.log().count(QStringLiteral("start: idle in the tray")), 1);
    stopChild(app);
}

} // namespace
