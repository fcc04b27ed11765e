// The real app docked in a tray opens no window; `mivra mivra://show` from a
// later launch brings the main window up.

#include "Await.h"
#include "PrivateHome.h"
#include "XEmbedTrayStub.h"

#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

QString xwininfo(const QStringList &arguments)
{
    QProcess info;
    info.start(QStringLiteral("xwininfo"), arguments);
    info.waitForFinished(5000);
    return QString::fromUtf8(info.readAllStandardOutput());
}

// Whether the main window (440 wide, titled "Mivra Video") is on screen, as
// the X server says.
bool mainWindowViewable()
{
    static const QRegularExpression line(QStringLiteral(R"((0x[0-9a-f]+) "Mivra Video": \([^)]*\)\s+440x)"));
    const QRegularExpressionMatch found = line.match(xwininfo({QStringLiteral("-root"), QStringLiteral("-tree")}));
    return found.hasMatch() &&
           xwininfo({QStringLiteral("-id"), found.captured(1)}).contains(QLatin1String("Map State: IsViewable"));
}

TEST(ShowMain, ALaterLaunchBringsTheWindowUp)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X display (run under Xvfb)";
    ASSERT_TRUE(QFile::exists(appBinary()));
    XEmbedTrayStub trayManager;
    ASSERT_TRUE(trayManager.ready());
    PrivateHome home;
    QProcess app;
    app.setProcessEnvironment(home.env);
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    app.start(appBinary(), {});
    // The stub answers dock requests from the test's event loop.
    EXPECT_TRUE(waitUntil([&] { return trayManager.docked() >= 1; }));
    ASSERT_TRUE(home.waitForLog(QStringLiteral("start: idle in the tray after ")));
    EXPECT_FALSE(home.log().contains(QStringLiteral("tray: this desktop has no system tray")));
    EXPECT_FALSE(mainWindowViewable()) << "docked in the tray, the app opens no window";

    const ChildRun show = runApp({QStringLiteral("mivra://show")}, home.env);
    EXPECT_EQ(show.status, 0) << show.err.toStdString();
    EXPECT_TRUE(waitUntil(mainWindowViewable, 10000)) << home.log().toStdString();
    EXPECT_FALSE(home.log().contains(QStringLiteral("main window: "))) << "the view loads without errors";
    stopChild(app);
}

} // namespace
