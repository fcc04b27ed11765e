#include "platform/capture/CaptureBackendChoice.h"
#include "WaylandTestServices.h"
#include "platform/capture/FramePacer.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// "NAME=value NAME=value" as an environment.
QProcessEnvironment environment(const char *pairs)
{
    QProcessEnvironment result;
    for (const QString &pair : QString::fromLatin1(pairs).split(QLatin1Char(' ')))
        result.insert(pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));
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
        {environment("XDG_SESSION_TYPE=wayland DISPLAY=:1"), CaptureBackend::wayland, "xcb"},
        {environment("XDG_SESSION_TYPE=x11 DISPLAY=:0"), CaptureBackend::x11},
        // An X11 session that happens to run a nested compositor stays X11.
        {environment("XDG_SESSION_TYPE=x11 WAYLAND_DISPLAY=wayland-1"), CaptureBackend::x11},
        {environment("WAYLAND_DISPLAY=wayland-0 DISPLAY=:0 QT_QPA_PLATFORM=wayland"), CaptureBackend::wayland},
        {environment("DISPLAY=:0"), CaptureBackend::x11},
        {environment("XDG_SESSION_TYPE=tty"), CaptureBackend::x11},
        {environment("XDG_SESSION_TYPE=x11 MIVRA_CAPTURE=wayland"), CaptureBackend::wayland},
        {environment("XDG_SESSION_TYPE=wayland MIVRA_CAPTURE=X11"), CaptureBackend::x11},
        {environment("XDG_SESSION_TYPE=wayland MIVRA_CAPTURE=mir"), CaptureBackend::wayland},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.env.toStringList().join(' ').toStdString());
        EXPECT_EQ(chooseCaptureBackend(c.env), c.backend);
        EXPECT_EQ(qtPlatformForOurWindows(c.env), c.ourWindows);
    }
}

// Handled as the screen source does: a picture without a free slot waits
// for one, and is lost if the next picture comes first.
TEST(FramePacerTest, ThirtyASecondWithJitterAllGoOut)
{
    FramePacer pacer;
    std::mt19937 random(7);
    std::uniform_int_distribution<int> jitterUs(-4000, 4000);
    int64_t arrivalUs = 1000000;
    for (int i = 1; i <= 300; ++i) {
        const int64_t nextUs = 1000000 + i * 1000000 / 30 + jitterUs(random);
        if (!pacer.tryTake(arrivalUs)) {
            const int64_t dueUs = arrivalUs + pacer.waitUs();
            ASSERT_LE(dueUs, nextUs) << "picture " << i;
            ASSERT_TRUE(pacer.tryTake(dueUs)) << "picture " << i;
        }
        arrivalUs = nextUs;
    }
}

TEST(FramePacerTest, AStillScreenSavesUpNoMoreThanTheBurst)
{
    FramePacer pacer;
    EXPECT_TRUE(pacer.tryTake(1000000));
    // Ten quiet seconds later, only two pictures may follow at once.
    EXPECT_TRUE(pacer.tryTake(11000000));
    EXPECT_TRUE(pacer.tryTake(11000001));
    EXPECT_FALSE(pacer.tryTake(11000002));
    EXPECT_NEAR(double(pacer.waitUs()), 1e6 / 30, 100);
}

} // namespace
