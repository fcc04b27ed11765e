// The real `mivra` binary: its command line, and launches that meet a
// running copy.

#include "Await.h"
#include "PrivateHome.h"
#include "XEmbedTrayStub.h"
#include "XWindows.h"

#include "platform/SingleInstance.h"

#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <gtest/gtest.h>

namespace {

// Each test's app has a private home; its service origin has nobody listening:
// refreshes fail at once and quietly.
TEST(Launch, CommandLineConventions)
{
    PrivateHome home;
    // Nothing running and no display to start on.
    QProcessEnvironment headless = home.env;
    headless.remove(QStringLiteral("DISPLAY"));
    headless.remove(QStringLiteral("WAYLAND_DISPLAY"));
    // What stdout and stderr start with; an empty one must stay empty.
    const struct {
        QStringList arguments;
        int status;
        QString out, err;
        bool withDisplay = true;
    } cases[] = {
        {{"--help"}, 0, "Usage: mivra", ""},
        {{"--version"}, 0, "mivra " MIVRA_VERSION "\n", ""},
        {{"record", "--help"}, 0, "Usage: mivra record", ""},
        {{"links", "--help"}, 0, "Usage: mivra links", ""},
        {{"upload", "--help"}, 0, "Usage: mivra upload", ""},
        {{"--bogus"}, 2, "", "mivra: "},
        {{"https://example.com"}, 2, "", "mivra: "},
        {{"frobnicate"}, 2, "", "mivra: "},
        {{"record", "--bubble-spot", "middle"},
         2,
         "",
         "mivra: --bubble-spot needs one of bottomLeft, bottomRight, topLeft, topRight, asOnScreen"},
        {{"mivra://stop"}, 1, "", "mivra: Mivra Video is not running and there is no display", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.arguments.join(u' ').toStdString());
        const ChildRun result = runApp(c.arguments, c.withDisplay ? home.env : headless);
        EXPECT_EQ(result.status, c.status);
        EXPECT_TRUE(c.out.isEmpty() ? result.out.isEmpty() : result.out.startsWith(c.out)) << result.out.toStdString();
        EXPECT_TRUE(c.err.isEmpty() ? result.err.isEmpty() : result.err.startsWith(c.err)) << result.err.toStdString();
    }
    EXPECT_TRUE(runApp({QStringLiteral("--help")}, home.env).out.contains(QStringLiteral("mivra://record?silent=1")));
    EXPECT_FALSE(QFile::exists(home.preferencesPath()));
}

TEST(Launch, ALaunchWhileTheRunningAppQuitsBecomesTheApp)
{
    PrivateHome home;
    // A quitting app holds its socket without answering, as right after it
    // installed or updated itself and started the new copy.
    const QString socketPath = home.path(QStringLiteral("mivra-instance"));
    auto quitting = std::make_unique<QLocalServer>();
    ASSERT_TRUE(quitting->listen(socketPath));
    QList<QLocalSocket *> held; // the server's children
    QObject::connect(quitting.get(), &QLocalServer::newConnection, [&] {
        while (quitting->hasPendingConnections())
            held << quitting->nextPendingConnection();
    });
    QProcess app;
    app.setProcessEnvironment(home.env);
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

TEST(Launch, DockedInATrayItOpensNoWindowUntilALaterLaunchAsksForIt)
{
    PrivateHome home;
    XEmbedTrayStub trayManager;
    ASSERT_TRUE(trayManager.ready());
    QProcess app;
    app.setProcessEnvironment(home.env);
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    app.start(appBinary(), {});
    // The stub answers dock requests from the test's event loop.
    EXPECT_TRUE(waitUntil([&] { return trayManager.docked() >= 1; }));
    ASSERT_TRUE(home.waitForLog(QStringLiteral("start: idle in the tray after ")));
    const QString mainWindow = QStringLiteral("^Mivra Video$");
    EXPECT_EQ(visibleWindowNamed(mainWindow), 0u) << "docked in the tray, the app opens no window";

    const ChildRun show = runApp({QStringLiteral("mivra://show")}, home.env);
    EXPECT_EQ(show.status, 0) << show.err.toStdString();
    EXPECT_TRUE(waitUntil([&] { return visibleWindowNamed(mainWindow) != 0; }, 10000)) << home.log().toStdString();
    EXPECT_FALSE(home.log().contains(QStringLiteral("main window: "))) << "the view loads without errors";
    stopChild(app);
}

} // namespace
