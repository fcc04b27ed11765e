#include "platform/capture/CaptureBackendChoice.h"
#include "WaylandTestServices.h"

#include <gtest/gtest.h>

namespace {

QProcessEnvironment environment(std::initializer_list<std::pair<const char *, const char *>> values)
{
    QProcessEnvironment result;
    for (const auto &[name, value] : values)
        result.insert(QString::fromLatin1(name), QString::fromLatin1(value));
    return result;
}

// Our own windows go through XWayland on Wayland, unless the user chose a
// platform or there is no X display to use.
TEST(CaptureBackendChoiceTest, SessionTypeThenWaylandDisplayAndTheOverrideWinsOurWindowsUseXWayland)
{
    const struct {
        QProcessEnvironment env;
        CaptureBackend backend;
        std::optional<QByteArray> ourWindows;
    } cases[] = {
        {environment({{"XDG_SESSION_TYPE", "wayland"}, {"DISPLAY", ":1"}}), CaptureBackend::wayland, "xcb"},
        {environment({{"XDG_SESSION_TYPE", "x11"}, {"DISPLAY", ":0"}}), CaptureBackend::x11},
        // An X11 session that happens to run a nested compositor stays X11.
        {environment({{"XDG_SESSION_TYPE", "x11"}, {"WAYLAND_DISPLAY", "wayland-1"}}), CaptureBackend::x11},
        {environment({{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", "wayland"}}),
         CaptureBackend::wayland},
        {environment({{"DISPLAY", ":0"}}), CaptureBackend::x11},
        {environment({{"XDG_SESSION_TYPE", "tty"}}), CaptureBackend::x11},
        {environment({{"XDG_SESSION_TYPE", "x11"}, {"MIVRA_CAPTURE", "wayland"}}), CaptureBackend::wayland},
        {environment({{"XDG_SESSION_TYPE", "wayland"}, {"MIVRA_CAPTURE", "X11"}}), CaptureBackend::x11},
        {environment({{"XDG_SESSION_TYPE", "wayland"}, {"MIVRA_CAPTURE", "mir"}}), CaptureBackend::wayland},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.env.toStringList().join(' ').toStdString());
        EXPECT_EQ(chooseCaptureBackend(c.env), c.backend);
        EXPECT_EQ(qtPlatformForOurWindows(c.env), c.ourWindows);
    }
}

} // namespace
