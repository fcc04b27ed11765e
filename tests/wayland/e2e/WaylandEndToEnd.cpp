#include "Await.h"
#include "MemoryPreferenceStore.h"
#include "capture/ScreenRecorder.h"
#include "platform/capture/WaylandCapturePlatform.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// Not a CTest case: scripts/wayland-e2e runs it inside the desktop it sets
// up (headless sway, PipeWire, WirePlumber, xdg-desktop-portal and its
// wlroots backend on the session bus of this process).
TEST(WaylandEndToEndTest, RecordsThreeSecondsThroughTheDesktopPortal)
{
    auto preferences = std::make_shared<MemoryPreferenceStore>();
    auto platform = std::make_shared<WaylandCapturePlatform>(preferences);
    ASSERT_EQ(failureText(platform->prepare()), QString()) << "the portal did not share the screen";
    const QList<DisplayInfo> displays = platform->displays();
    ASSERT_EQ(displays.size(), 1);
    EXPECT_TRUE(preferences->textValue(PortalScreenCast::restoreTokenKey).has_value());

    ScreenRecorder::Options options;
    options.choosePreset = [](PixelSize) { return QStringLiteral("ultrafast"); };
    ScreenRecorder recorder(platform, options);
    QTemporaryDir dir;
    const QString kept = qEnvironmentVariable("MIVRA_E2E_OUTPUT");
    const QString path = kept.isEmpty() ? dir.filePath(QStringLiteral("wayland-e2e.mp4")) : kept;
    QScreen *screen = QGuiApplication::primaryScreen();
    ASSERT_EQ(failureText(recorder.start(path, screen, false, std::nullopt)), QString());
    waitUntil([] { return false; }, 3000); // three seconds of recording
    const RecordingResult result = run(recorder.stop());
    const double scale = screen ? screen->devicePixelRatio() : 2.0;
    EXPECT_EQ(QSize(result.width, result.height), QSize(2 * int(displays.first().widthPoints * scale / 2),
                                                        2 * int(displays.first().heightPoints * scale / 2)));
    EXPECT_NEAR(double(result.durationMs), 3000.0, 400.0);
    EXPECT_GT(QFileInfo(path).size(), 0);
}

} // namespace
