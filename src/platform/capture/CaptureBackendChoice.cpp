#include "platform/capture/CaptureBackendChoice.h"

#include "base/Diag.h"
#include "platform/capture/LinuxCapturePlatform.h"
#include "platform/capture/WaylandCapturePlatform.h"

namespace {
bool isWaylandSession(const QProcessEnvironment &environment)
{
    const QString session = environment.value(QStringLiteral("XDG_SESSION_TYPE")).toLower();
    if (session == QStringLiteral("wayland"))
        return true;
    if (session == QStringLiteral("x11"))
        return false;
    return !environment.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty();
}
} // namespace

CaptureBackend chooseCaptureBackend(const QProcessEnvironment &environment)
{
    const QString wanted = environment.value(QStringLiteral("MIVRA_CAPTURE")).toLower();
    if (wanted == QStringLiteral("x11"))
        return CaptureBackend::x11;
    if (wanted == QStringLiteral("wayland"))
        return CaptureBackend::wayland;
    if (!wanted.isEmpty())
        Diag::log(
            QStringLiteral("capture: MIVRA_CAPTURE=%1 is neither x11 nor wayland; following the session").arg(wanted));
    return isWaylandSession(environment) ? CaptureBackend::wayland : CaptureBackend::x11;
}

std::shared_ptr<CapturePlatform> makeCapturePlatform(CaptureBackend backend,
                                                     std::shared_ptr<PreferenceStore> preferences)
{
    Diag::log(backend == CaptureBackend::wayland ? QStringLiteral("capture: Wayland (desktop portal and PipeWire)")
                                                 : QStringLiteral("capture: X11"));
    if (backend == CaptureBackend::wayland)
        return std::make_shared<WaylandCapturePlatform>(std::move(preferences));
    return std::make_shared<LinuxCapturePlatform>();
}

std::optional<QByteArray> qtPlatformForOurWindows(const QProcessEnvironment &environment)
{
    if (environment.contains(QStringLiteral("QT_QPA_PLATFORM")))
        return std::nullopt;
    if (!isWaylandSession(environment) || environment.value(QStringLiteral("DISPLAY")).isEmpty())
        return std::nullopt;
    return QByteArrayLiteral("xcb");
}

void preferXWaylandForOurWindows()
{
    if (const auto platform = qtPlatformForOurWindows(QProcessEnvironment::systemEnvironment()))
        qputenv("QT_QPA_PLATFORM", *platform);
}
