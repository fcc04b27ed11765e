// One whole recording through the real app under the test's X display:
// "record?silent=1" and "stop" from later launches, the real recorder and
// uploader, the real mivra-server on 127.0.0.1; the link ends on the
// clipboard, the recent list keeps it and the file is gone.

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
    app.start(appBinary(), {});
    ASSERT_TRUE(home.waitForLog(QStringLiteral("start: idle"), 10000)) << home.log().toStdString();

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
    stopChild(app);
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
}

} // namespace
