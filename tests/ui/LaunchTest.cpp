// The real `mivra` binary's command line.

#include "Await.h"
#include "PrivateHome.h"

#include "platform/SingleInstance.h"

#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <gtest/gtest.h>

namespace {

class LaunchTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(QFile::exists(appBinary())) << appBinary().toStdString(); }

    ChildRun run(const QStringList &arguments) { return runApp(arguments, m_home.env); }

    PrivateHome m_home; // its service origin has nobody listening: refreshes fail at once and quietly
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

    for (const char *command : {"record", "links", "upload"}) {
        const ChildRun subHelp = run({QString::fromLatin1(command), QStringLiteral("--help")});
        EXPECT_EQ(subHelp.status, 0) << command;
        EXPECT_TRUE(subHelp.out.startsWith(QStringLiteral("Usage: mivra ") + QLatin1String(command))) << command;
    }

    for (const char *bad : {"--bogus", "https://example.com", "frobnicate"}) {
        const ChildRun wrong = run({QString::fromLatin1(bad)});
        EXPECT_EQ(wrong.status, 2) << bad;
        EXPECT_TRUE(wrong.out.isEmpty()) << bad;
        EXPECT_TRUE(wrong.err.startsWith(QStringLiteral("mivra: "))) << wrong.err.toStdString();
    }

    const ChildRun spot = run({QStringLiteral("record"), QStringLiteral("--bubble-spot"), QStringLiteral("middle")});
    EXPECT_EQ(spot.status, 2);
    EXPECT_TRUE(spot.err.contains(QStringLiteral("bottomLeft, bottomRight, topLeft, topRight, asOnScreen")));
    EXPECT_FALSE(QFile::exists(m_home.preferencesPath()));

    // Nothing running and no display to start on.
    QProcessEnvironment headless = m_home.env;
    headless.remove(QStringLiteral("DISPLAY"));
    headless.remove(QStringLiteral("WAYLAND_DISPLAY"));
    const ChildRun orphan = runApp({QStringLiteral("mivra://stop")}, headless);
    EXPECT_EQ(orphan.status, 1);
    EXPECT_TRUE(orphan.err.contains(QStringLiteral("not running"))) << orphan.err.toStdString();
}

TEST_F(LaunchTest, ALaunchWhileTheRunningAppQuitsBecomesTheApp)
{
    // A quitting app holds its socket without answering, as right after it
    // installed or updated itself and started the new copy.
    const QString socketPath = m_home.path(QStringLiteral("mivra-instance"));
    auto quitting = std::make_unique<QLocalServer>();
    ASSERT_TRUE(quitting->listen(socketPath));
    QList<QLocalSocket *> held; // the server's children
    QObject::connect(quitting.get(), &QLocalServer::newConnection, [&] {
        while (quitting->hasPendingConnections())
            held << quitting->nextPendingConnection();
    });
    QProcess app;
    app.setProcessEnvironment(m_home.env);
    app.start(appBinary(), {});
    // The request arrives and goes unanswered until the app lets go.
    ASSERT_TRUE(waitUntil([&] {
        return std::any_of(held.begin(), held.end(), [](QLocalSocket *s) { return s->bytesAvailable() > 0; });
    }));
    quitting.reset();
    EXPECT_TRUE(waitUntil([&] { return SingleInstance::someoneListens(socketPath); }, 10000))
        << app.readAllStandardError().toStdString();
    EXPECT_EQ(app.state(), QProcess::Running);
    stopChild(app);
}

} // namespace
