// The real `mivra` binary on the test's X display: command line, start-up,
// and a second launch handing its URL to the running app.

#include "Await.h"
#include "PrivateHome.h"
#include "XEmbedTrayStub.h"

#include "platform/FilePreferenceStore.h"

#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QSystemTrayIcon>
#include <gtest/gtest.h>

namespace {

class LaunchTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(QFile::exists(appBinary())) << appBinary().toStdString(); }
    void TearDown() override { stopChild(m_app); }

    ChildRun run(const QStringList &arguments) { return runApp(arguments, m_home.env); }

    PrivateHome m_home; // its service origin has nobody listening: refreshes fail at once and quietly
    QProcess m_app;
};

TEST_F(LaunchTest, CommandLineConventions)
{
    const ChildRun help = run({QStringLiteral("--help")});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.startsWith(QStringLiteral("Usage: mivra"))) << help.out.toStdString();
    EXPECT_TRUE(help.out.contains(QStringLiteral("mivra://record?silent=1")));
    EXPECT_TRUE(help.err.isEmpty());

    const ChildRun version = run({QStringLiteral("--version")});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, QStringLiteral("mivra " MIVRA_VERSION "\n"));

    for (const char *bad : {"--bogus", "https://example.com", "frobnicate"}) {
        const ChildRun wrong = run({QString::fromLatin1(bad)});
        EXPECT_EQ(wrong.status, 2) << bad;
        EXPECT_TRUE(wrong.out.isEmpty()) << bad;
        EXPECT_TRUE(wrong.err.startsWith(QStringLiteral("mivra: "))) << wrong.err.toStdString();
    }

    // Nothing running and no display to start on.
    QProcessEnvironment headless = m_home.env;
    headless.remove(QStringLiteral("DISPLAY"));
    headless.remove(QStringLiteral("WAYLAND_DISPLAY"));
    const ChildRun orphan = runApp({QStringLiteral("mivra://stop")}, headless);
    EXPECT_EQ(orphan.status, 1);
    EXPECT_TRUE(orphan.err.contains(QStringLiteral("not running"))) << orphan.err.toStdString();
}

TEST_F(LaunchTest, StaysUpAndTakesCommandsFromLaterLaunches)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X display (run under Xvfb)";
    // No microphone here: record the screen alone.
    FilePreferenceStore(m_home.preferencesPath()).setValue(QStringLiteral("micEnabled"), false);
    m_app.setProcessEnvironment(m_home.env);
    m_app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const bool trayBefore = QSystemTrayIcon::isSystemTrayAvailable();
    m_app.start(appBinary(), {});
    ASSERT_TRUE(m_app.waitForStarted(5000));
    ASSERT_TRUE(m_home.waitForLog(QStringLiteral("start: idle in the tray after "))) << m_home.log().toStdString();
    // Plain Xvfb has no tray (unless a parallel test runs its stand-in): the
    // app says so and opens its window instead.
    if (!trayBefore)
        EXPECT_TRUE(m_home.log().contains(QStringLiteral("tray: this desktop has no system tray")));

    const ChildRun record = run({QStringLiteral("mivra://record")});
    EXPECT_EQ(record.status, 0) << record.err.toStdString();
    ASSERT_TRUE(m_home.waitForLog(QStringLiteral("phase starting")));
    // The first recording measures the encoder's speed before it starts.
    ASSERT_TRUE(m_home.waitForLog(QStringLiteral("phase recording"), 30000)) << m_home.log().toStdString();
    EXPECT_EQ(run({QStringLiteral("mivra://discard")}).status, 0);
    EXPECT_TRUE(m_home.waitForLog(QStringLiteral("discarded recording Mivra "), 15000)) << m_home.log().toStdString();
    EXPECT_TRUE(m_home.waitForLog(QStringLiteral("phase idle")));
    const QStringList phases = m_home.log().split(QLatin1Char('\n')).filter(QStringLiteral(" phase "));
    EXPECT_EQ(phases.size(), 4) << m_home.log().toStdString(); // starting, recording, finishing, idle

    const ChildRun reopen = run({});
    EXPECT_EQ(reopen.status, 0);
    EXPECT_FALSE(m_app.waitForFinished(200)) << "the app is still up";
    // Still the one instance: a second app would have logged its own start.
    EXPECT_EQ(m_home.log().count(QStringLiteral("start: idle in the tray")), 1);
}

TEST_F(LaunchTest, WithATrayTheAppDocksThereAndOpensNoWindow)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X display (run under Xvfb)";
    XEmbedTrayStub trayManager;
    ASSERT_TRUE(trayManager.ready());
    m_app.setProcessEnvironment(m_home.env);
    m_app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_app.start(appBinary(), {});
    ASSERT_TRUE(m_app.waitForStarted(5000));
    // The stub answers dock requests from the test's event loop.
    EXPECT_TRUE(waitUntil([&] { return trayManager.docked() >= 1; }));
    ASSERT_TRUE(m_home.waitForLog(QStringLiteral("start: idle in the tray after ")));
    EXPECT_FALSE(m_home.log().contains(QStringLiteral("tray: this desktop has no system tray")));
}

} // namespace
