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

TEST(CaptureBackendChoiceTest, SessionTypeThenWaylandDisplayAndTheOverrideWins)
{
    const std::pair<QProcessEnvironment, CaptureBackend> cases[] = {
        {environment({{"XDG_SESSION_TYPE", "wayland"}}), CaptureBackend::wayland},
        {environment({{"XDG_SESSION_TYPE", "x11"}, {"DISPLAY", ":0"}}), CaptureBackend::x11},
        // An X11 session that happens to run a nested compositor stays X11.
        {environment({{"XDG_SESSION_TYPE", "x11"}, {"WAYLAND_DISPLAY", "wayland-1"}}), CaptureBackend::x11},
        {environment({{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}}), CaptureBackend::wayland},
        {environment({{"DISPLAY", ":0"}}), CaptureBackend::x11},
        {environment({{"XDG_SESSION_TYPE", "tty"}}), CaptureBackend::x11},
        {environment({{"XDG_SESSION_TYPE", "x11"}, {"MIVRA_CAPTURE", "wayland"}}), CaptureBackend::wayland},
        {environment({{"XDG_SESSION_TYPE", "wayland"}, {"MIVRA_CAPTURE", "X11"}}), CaptureBackend::x11},
        {environment({{"XDG_SESSION_TYPE", "wayland"}, {"MIVRA_CAPTURE", "mir"}}), CaptureBackend::wayland},
    };
    for (const auto &[env, backend] : cases)
        EXPECT_EQ(chooseCaptureBackend(env), backend) << env.toStringList().join(' ').toStdString();
}

TEST(CaptureBackendChoiceTest, OurWindowsGoThroughXWaylandOnWayland)
{
    EXPECT_EQ(qtPlatformForOurWindows(environment({{"XDG_SESSION_TYPE", "wayland"}, {"DISPLAY", ":1"}})),
              QByteArray("xcb"));
    // The user's own choice stands, and without XWayland there is no X display to use.
    EXPECT_FALSE(qtPlatformForOurWindows(
        environment({{"XDG_SESSION_TYPE", "wayland"}, {"DISPLAY", ":1"}, {"QT_QPA_PLATFORM", "wayland"}})));
    EXPECT_FALSE(qtPlatformForOurWindows(environment({{"XDG_SESSION_TYPE", "wayland"}})));
    EXPECT_FALSE(qtPlatformForOurWindows(environment({{"XDG_SESSION_TYPE", "x11"}, {"DISPLAY", ":0"}})));
}

} // namespace
