#include "main/HeadlessFallback.h"

#include <QByteArrayList>
#include <QGuiApplication>

namespace HeadlessFallback {
namespace {
const QByteArray kOffscreen = QByteArrayLiteral("offscreen");
bool g_askedFor = false;
} // namespace

void allow()
{
    QByteArrayList plugins;
    if (const QByteArray chosen = qgetenv("QT_QPA_PLATFORM"); !chosen.isEmpty()) {
        plugins = chosen.split(';');
    } else {
        const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
        const bool x11 = !qEnvironmentVariableIsEmpty("DISPLAY");
        const bool waylandSession = qEnvironmentVariable("XDG_SESSION_TYPE").toLower() == QLatin1String("wayland");
        if (wayland && (waylandSession || !x11))
            plugins << QByteArrayLiteral("wayland");
        if (x11)
            plugins << QByteArrayLiteral("xcb");
        if (wayland && !plugins.contains(QByteArrayLiteral("wayland")))
            plugins << QByteArrayLiteral("wayland");
    }
    g_askedFor = plugins.contains(kOffscreen);
    if (g_askedFor)
        return;
    plugins << kOffscreen;
    qputenv("QT_QPA_PLATFORM", plugins.join(';'));
}

bool happened()
{
    return !g_askedFor && QGuiApplication::platformName() == QLatin1String("offscreen");
}

const char *missingDisplaySentence()
{
    return "No display could be opened for windows. On a Wayland desktop, Qt's Wayland support comes in the "
           "qt6-wayland package.";
}

} // namespace HeadlessFallback
