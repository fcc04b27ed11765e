#include "platform/capture/WaylandCapturePlatform.h"
#include "Await.h"
#include "FfprobeReport.h"
#include "FakeScreenCastPortal.h"
#include "MemoryPreferenceStore.h"
#include "WaylandTestServices.h"
#include "capture/ScreenRecorder.h"

#include <QGuiApplication>
#include <QScreen>
#include <gtest/gtest.h>

namespace {

const QString kNotShared = QStringLiteral("The desktop has not shared a screen with Mivra Video yet.");

// The fake portal hands out connections to a real, private PipeWire whose
// one video node stands in for the shared monitor.
class WaylandCapturePlatformTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!pipewire.start())
            GTEST_SKIP() << "No private PipeWire (pipewire, wireplumber, gst-launch-1.0, pw-dump)";
        const std::optional<uint32_t> node =
            pipewire.startProducer(producer, QStringLiteral("ball"),
                                   QStringLiteral("video/x-raw,format=BGRx,width=320,height=240,framerate=30/1"));
        ASSERT_TRUE(node) << "the test video node did not appear";
        fake.nodeId = *node;
        fake.size = QSize(320, 240);
        fake.makeRemote = [this] { return pipewire.connect().release(); };
        ASSERT_TRUE(fake.registerOn(pipewire.bus().connect()));
        PortalScreenCast::Options options;
        options.bus = pipewire.bus().connect();
        platform = std::make_shared<WaylandCapturePlatform>(std::make_shared<PortalScreenCast>(preferences, options));
    }

    QString failureOfDisplays()
    {
        return failureText([&] { platform->displays(); });
    }

    PrivatePipeWire pipewire;
    TestProcess producer;
    FakeScreenCastPortal fake;
    std::shared_ptr<MemoryPreferenceStore> preferences = std::make_shared<MemoryPreferenceStore>();
    std::shared_ptr<WaylandCapturePlatform> platform;
};

TEST_F(WaylandCapturePlatformTest, RecordsTheSharedMonitorAndEndsTheSessionAfterwards)
{
    ASSERT_EQ(failureText(platform->prepare()), QString());
    const QList<DisplayInfo> displays = platform->displays();
    ASSERT_EQ(displays.size(), 1);
    EXPECT_EQ(std::tuple(displays.first().id, displays.first().widthPoints, displays.first().heightPoints,
                         platform->displayIdOf(QGuiApplication::primaryScreen(), displays)),
              std::tuple(fake.nodeId, 320.0, 240.0, fake.nodeId));

    ScreenRecorder::Options options;
    options.choosePreset = [](PixelSize) { return QStringLiteral("ultrafast"); };
    ScreenRecorder recorder(platform, options);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("wayland.mp4"));
    const int64_t startUs = monotonicNowUs();
    ASSERT_EQ(failureText(recorder.start(path, QGuiApplication::primaryScreen(), false, std::nullopt)), QString());
    // The recorder asks anew at start, which ends the session opened above and
    // left unused; the recording's own session stays open while pictures arrive.
    ASSERT_TRUE(waitUntil(
        [&] { return boxTypes(topLevelBoxes(path)).contains("moof") && fake.closedSessions.size() == 1; }, 20000));
    EXPECT_EQ(fake.closedSessions.size(), 1) << "the desktop shares while recording";
    const RecordingResult result = run(recorder.stop());
    EXPECT_EQ(QSize(result.width, result.height), QSize(320, 240));
    EXPECT_EQ(streamFields(ffprobe(path).video, "width height"), "320 240");
    EXPECT_TRUE(result.durationMs > 0 && result.durationMs <= (monotonicNowUs() - startUs) / 1000) << result.durationMs;

    ASSERT_TRUE(waitUntil([&] { return fake.closedSessions.size() == 2; }));
    // Each recording asks anew (silently, with the token).
    EXPECT_EQ(failureOfDisplays(), kNotShared);
}

TEST_F(WaylandCapturePlatformTest, NothingIsListedOrOpenedButWhatTheDesktopShares)
{
    EXPECT_EQ(failureOfDisplays(), kNotShared);
    EXPECT_TRUE(fake.calls.isEmpty());
    // Asking once (for the setup card) leaves nothing shared behind.
    ASSERT_EQ(failureText(platform->askOnce()), QString());
    EXPECT_EQ(failureOfDisplays(), kNotShared);
    ASSERT_EQ(failureText(platform->prepare()), QString());
    DisplayInfo other = platform->displays().first();
    other.id += 1;
    EXPECT_EQ(failureText([&] { platform->openScreen(other); }), kNotShared);
}

} // namespace
