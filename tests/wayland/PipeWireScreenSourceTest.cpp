#include "platform/capture/PipeWireScreenSource.h"
#include "FakeScreenCastPortal.h"
#include "FfprobeReport.h"
#include "FrameCollector.h"
#include "MemoryPreferenceStore.h"
#include "WaylandTestServices.h"
#include "capture/ScreenRecorder.h"
#include "platform/capture/WaylandCapturePlatform.h"

#include <QGuiApplication>
#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

class PipeWireScreenSourceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!pipewire.start())
            GTEST_SKIP() << "No private PipeWire (pipewire, wireplumber, gst-launch-1.0, pw-dump)";
    }
    // A source on a new producer of `pattern` in `caps`, delivering into `delivered`.
    std::unique_ptr<PipeWireScreenSource> startSource(FrameCollector &delivered, const QString &pattern,
                                                      const QString &caps)
    {
        const std::optional<uint32_t> node = pipewire.startProducer(producer, pattern, caps);
        if (!node)
            return nullptr;
        auto source = std::make_unique<PipeWireScreenSource>(pipewire.connect(), *node);
        delivered.start(*source);
        return source;
    }

    PrivatePipeWire pipewire;
    TestProcess producer;
};

TEST_F(PipeWireScreenSourceTest, DeliversTheNodesPicturesAsBgrxUntilStoppedOrGone)
{
    const struct {
        const char *pattern;
        const char *format;
        uint32_t rgb;
        bool nodeGoesAway; // else the source is stopped, which is no failure
    } cases[] = {{"blue", "BGRx", 0x0000ff, false}, {"red", "BGRA", 0xff0000, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.format);
        FrameCollector delivered;
        const int64_t startUs = monotonicNowUs();
        auto source = startSource(delivered, QString::fromLatin1(c.pattern),
                                  QStringLiteral("video/x-raw,format=%1,width=322,height=240,framerate=30/1")
                                      .arg(QString::fromLatin1(c.format)));
        ASSERT_TRUE(source) << "the test video node did not appear";
        ASSERT_TRUE(delivered.waitBeyond(0, 20000)) << delivered.failures().join(' ').toStdString();
        if (c.nodeGoesAway) {
            stopChild(producer);
            ASSERT_TRUE(delivered.waitForFailure(20000));
        }
        source->stop();
        // No picture after stop returns.
        EXPECT_EQ(source->framesCaptured(), int64_t(delivered.count()));
        const VideoFrame frame = delivered.last();
        EXPECT_EQ(
            std::tuple(frame.width, frame.height, frame.strideBytes, pixelAt(frame, 0, 0), pixelAt(frame, 321, 239)),
            std::tuple(322, 240, 322 * 4, c.rgb, c.rgb));
        EXPECT_TRUE(frame.timestampUs > startUs && frame.timestampUs <= monotonicNowUs()) << "on the monotonic clock";
        EXPECT_EQ(delivered.failures(),
                  c.nodeGoesAway ? QStringList{"The desktop stopped sharing the screen during the recording."}
                                 : QStringList{});
    }
}

TEST_F(PipeWireScreenSourceTest, AFasterProducerIsThinnedToThirtyASecond)
{
    FrameCollector delivered;
    auto source = startSource(delivered, QStringLiteral("ball"),
                              QStringLiteral("video/x-raw,format=BGRx,width=160,height=120,framerate=90/1"));
    ASSERT_TRUE(source);
    ASSERT_TRUE(delivered.waitBeyond(20, 20000));
    source->stop();
    const std::vector<VideoFrame> frames = delivered.frames();
    // 30 a second on average, after a burst of at most two.
    const double seconds = (frames.back().timestampUs - frames.front().timestampUs) / 1e6;
    EXPECT_LE((frames.size() - 2) / seconds, 30.5);
    // Four frames use four slots, two of which may be saved up.
    for (std::size_t i = 3; i < frames.size(); ++i)
        EXPECT_GE(frames[i].timestampUs - frames[i - 3].timestampUs, 2 * 1000000 / 30 - 1000) << "frame " << i;
    EXPECT_GT(source->framesSkipped(), 0);
}

// A shared screen that cannot be streamed fails the start, not the end.
TEST_F(PipeWireScreenSourceTest, WhatCannotBeOpenedIsRefusedWithAReason)
{
    const struct {
        const char *caps; // a producer's; empty: no such node
        bool connected;
        QString reason; // how the failure ends
    } cases[] = {
        {"", true, "PipeWire does not offer the shared screen (node 987654), so it cannot be recorded."},
        {"", false, "PipeWire could not be reached, so the screen cannot be recorded."},
        // Refused at once, or never streaming within the bound: either way the start fails.
        {"video/x-raw,format=RGB,width=64,height=48,framerate=30/1", true, "so the recording did not start."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.caps);
        const std::optional<uint32_t> node =
            *c.caps ? pipewire.startProducer(producer, QStringLiteral("blue"), QString::fromLatin1(c.caps)) : 987654;
        ASSERT_TRUE(node) << "the test video node did not appear";
        const QString failure = failureText([&] {
            PipeWireScreenSource source(c.connected ? pipewire.connect() : UniqueFd(), *node);
            source.open(1s);
        });
        EXPECT_TRUE(failure.endsWith(c.reason)) << failure.toStdString();
    }
}

const QString kNotShared = QStringLiteral("The desktop has not shared a screen with Mivra Video yet.");

// The fake portal hands out connections to a real, private PipeWire whose
// one video node stands in for the shared monitor.
class WaylandCapturePlatformTest : public PipeWireScreenSourceTest {
protected:
    void SetUp() override
    {
        PipeWireScreenSourceTest::SetUp();
        if (IsSkipped())
            return;
        const std::optional<uint32_t> node =
            pipewire.startProducer(producer, QStringLiteral("ball"),
                                   QStringLiteral("video/x-raw,format=BGRx,width=320,height=240,framerate=30/1"));
        ASSERT_TRUE(node) << "the test video node did not appear";
        fake.nodeId = *node;
        fake.size = QSize(320, 240);
        fake.makeRemote = [this] { return pipewire.connect().release(); };
        ASSERT_TRUE(fake.registerOn(pipewire.bus().connect()));
        platform = std::make_shared<WaylandCapturePlatform>(
            std::make_shared<PortalScreenCast>(preferences, PortalScreenCast::Options{pipewire.bus().connect()}));
    }

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
    EXPECT_EQ(failureText([&] { platform->displays(); }), kNotShared);
}

TEST_F(WaylandCapturePlatformTest, NothingIsListedOrOpenedButWhatTheDesktopShares)
{
    EXPECT_EQ(failureText([&] { platform->displays(); }), kNotShared);
    EXPECT_TRUE(fake.methods.isEmpty());
    // Asking once (for the setup card) leaves nothing shared behind.
    ASSERT_EQ(failureText(platform->askOnce()), QString());
    EXPECT_EQ(failureText([&] { platform->displays(); }), kNotShared);
    ASSERT_EQ(failureText(platform->prepare()), QString());
    DisplayInfo other = platform->displays().first();
    other.id += 1;
    EXPECT_EQ(failureText([&] { platform->openScreen(other); }), kNotShared);
}

} // namespace
