#pragma once

#include <QProcessEnvironment>
#include <QString>

#include <memory>
#include <optional>

class CapturePlatform;
class PreferenceStore;

enum class CaptureBackend { x11 = 1, wayland };

// Which capture adapter a session needs, decided once at start-up.
// MIVRA_CAPTURE ("x11" or "wayland") overrides; otherwise XDG_SESSION_TYPE
// says, and without it a WAYLAND_DISPLAY means Wayland. On Wayland, X11
// capture would see only the X11 windows, so the portal is used.
CaptureBackend chooseCaptureBackend(const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());

std::shared_ptr<CapturePlatform> makeCapturePlatform(CaptureBackend backend,
                                                     std::shared_ptr<PreferenceStore> preferences);

// The Qt platform our windows should use. The bubble and the bar place
// themselves and stay on top, which a Wayland client cannot do; through
// XWayland they can, so on a Wayland session with an X display we ask for
// xcb. Nothing when the user chose a platform or there is no XWayland.
std::optional<QByteArray> qtPlatformForOurWindows(const QProcessEnvironment &environment);
// Applies the above; call before the QApplication is made.
void preferXWaylandForOurWindows();
