#include "platform/capture/WaylandCapturePlatform.h"
#include "Await.h"
#include "FakeScreenCastPortal.h"
#include "MemoryPreferenceStore.h"
#include "WaylandTestServices.h"
#include "capture/DirectWriter.h"
#include "capture/ScreenRecorder.h"

#include <QGuiApplication>
#include <QScreen>
#include <gtest/gtest.h>

#include <atomic>

namespace {

const QString kNotShared = QStringLiteral("The desktop has not shared a screen with Mivra Video yet.");

// The real writer, behind a count of the pictures that reach it and the time of the first.
class WatchedWriter final : public RecordingWriter {
public:
    struct Seen {
        std::atomic<int> pictures{0};
        std::atomic<int64_t> firstUs{-1};
    };
    WatchedWriter(const WriterSettings &settings, Seen &seen) : m_inner(settings), m_seen(seen) {}
    void videoFrame(VideoFrame frame) override
    {
        int64_t none = -1;
        m_seen.firstUs.compare_exchange_strong(none, frame.timestampUs);
        ++m_seen.pictures;
        m_inner.videoFrame(std::move(frame));
    }
    void audioChunk(AudioChunk chunk) override { m_inner.audioChunk(std::move(chunk)); }
    void finish(int64_t endUs, std::function<void(std::optional<QString>)> done) override
    {
        m_inner.finish(endUs, std::move(done));
    }

private:
    DirectWriter m_inner;
    Seen &m_seen;
};

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

    WatchedWriter::Seen seen;
    ScreenRecorder::Options options;
    options.choosePreset = [](PixelSize) { return QStringLiteral("ultrafast"); };
    options.makeWriter = [&seen](const WriterSettings &settings) -> std::unique_ptr<RecordingWriter> {
        return std::make_unique<WatchedWriter>(settings, seen);
    };
    ScreenRecorder recorder(platform, options);
    QTemporaryDir dir;
    ASSERT_EQ(failureText(recorder.start(dir.filePath(QStringLiteral("wayland.mp4")), QGuiApplication::primaryScreen(),
                                         false, std::nullopt)),
              QString());
    // The recorder asks anew at start, which ends the session opened above and
    // left unused; the recording's own session stays open while it runs.
    ASSERT_TRUE(waitUntil([&] { return seen.pictures >= 10 && fake.closedSessions.size() == 1; }, 20000));
    EXPECT_EQ(fake.closedSessions.size(), 1) << "the desktop shares while recording";
    const int64_t stopCalledUs = monotonicNowUs();
    const RecordingResult result = run(recorder.stop());
    const int64_t stoppedUs = monotonicNowUs();
    EXPECT_EQ(QSize(result.width, result.height), QSize(320, 240));
    // From the first picture to the stop, give or take a frame.
    EXPECT_GE(result.durationMs, (stopCalledUs - seen.firstUs) / 1000 - 40);
    EXPECT_LE(result.durationMs, (stoppedUs - seen.firstUs) / 1000 + 40);

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
