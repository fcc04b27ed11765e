// The real `mivra` binary on the test's X display: its command line, and
// docking in a tray when the desktop has one.

#include "Await.h"
#include "PrivateHome.h"
#include "XEmbedTrayStub.h"

#include <QFile>
#include <QGuiApplication>
#include <QProcess>
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
