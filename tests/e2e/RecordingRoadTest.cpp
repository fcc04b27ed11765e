// The real app under the test's X display, driven by later launches: a
// recording from "record?silent=1" to "stop" through the real recorder and
// uploader and the real mivra-server on 127.0.0.1 ends with the link on the
// clipboard, in the recent list and the file gone; a second one is
// discarded; the app stays the one instance throughout.

#include "Await.h"
#include "RoadRig.h"

#include "platform/FilePreferenceStore.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QSystemTrayIcon>

namespace {

using RecordingRoad = RoadRig;

TEST_F(RecordingRoad, SilentRecordEndsWithTheLinkOnTheClipboard)
{
    // The screen alone: this test is about the road, not the microphone.
    FilePreferenceStore(home.preferencesPath()).setValue(QStringLiteral("micEnabled"), false);
    const bool trayBefore = QSystemTrayIcon::isSystemTrayAvailable();
    startApp();
    // Plain Xvfb has no tray (unless a parallel test runs its stand-in): the
    // app says so and opens its window instead.
    EXPECT_TRUE(trayBefore || home.log().contains(QStringLiteral("tray: this desktop has no system tray")));

    ASSERT_EQ(runApp({QStringLiteral("mivra://record?silent=1")}, home.env).status, 0);
    // The first recording measures the encoder's speed before it starts.
    ASSERT_TRUE(home.waitForLog(QStringLiteral("phase recording"), 60000)) << home.log().toStdString();
    ASSERT_TRUE(awaitFirstPictures());
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
    EXPECT_TRUE(recordings().isEmpty()) << recordings().join(' ').toStdString();
    const QList<RecentLink> stored = storedLinks();
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(stored[0].id + " " + stored[0].shareUrl, done.captured(1) + " " + link);

    ASSERT_EQ(runApp({QStringLiteral("mivra://record")}, home.env).status, 0);
    ASSERT_TRUE(waitUntil([&] { return home.log().count(QStringLiteral("phase recording")) == 2; }, 30000));
    EXPECT_EQ(runApp({QStringLiteral("mivra://discard")}, home.env).status, 0);
    EXPECT_TRUE(home.waitForLog(QStringLiteral("discarded recording Mivra "), 15000)) << home.log().toStdString();
    EXPECT_TRUE(waitUntil([&] { return home.log().count(QStringLiteral("phase idle")) == 2; }));
    EXPECT_EQ(recordings(), QStringList());

    // A plain launch only brings the running app forward.
    EXPECT_EQ(runApp({}, home.env).status, 0);
    EXPECT_EQ(app.state(), QProcess::Running);
    EXPECT_EQ(home.log().count(QStringLiteral("start: idle in the tray")), 1);
}

} // namespace
