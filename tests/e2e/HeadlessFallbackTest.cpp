// A Wayland session that Qt cannot draw on (no Wayland plugin, no X display):
// the command line says what is missing instead of aborting inside Qt.
#include "PrivateHome.h"

#include <gtest/gtest.h>

namespace {

TEST(HeadlessFallback, NoUsableDisplayPluginGivesASentenceNotAnAbort)
{
    PrivateHome home;
    home.env.remove(QStringLiteral("DISPLAY"));
    home.env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    home.env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    home.env.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("mivra-no-such-compositor"));
    home.env.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
    const struct {
        QStringList arguments;
        const char *says;
    } cases[] = {
        // Records without windows, then the desktop's screen sharing is what is missing.
        {{QStringLiteral("record"), QStringLiteral("--seconds"), QStringLiteral("1")}, "screen"},
        {{QStringLiteral("record"), QStringLiteral("--camera"), QStringLiteral("--seconds"), QStringLiteral("1")},
         "The camera bubble needs a window."},
        {{}, "cannot show its tray icon or windows"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.arguments.join(u' ').toStdString());
        const ChildRun run = runApp(c.arguments, home.env, 20000);
        EXPECT_EQ(run.status, 1) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(QString::fromUtf8(c.says))) << run.err.toStdString();
        EXPECT_FALSE(run.err.contains(QStringLiteral("platform plugin could be initialized"))) << run.err.toStdString();
    }
}

} // namespace
