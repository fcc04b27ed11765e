#include "platform/capture/WaylandCapturePlatform.h"
#include "Await.h"
#include "FakeScreenCastPortal.h"
#include "MemoryPreferenceStore.h"
#include "WaylandTestServices.h"
#include "capture/MediaProbe.h"
#include "capture/ScreenRecorder.h"

#include <QElapsedTimer>
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
        QString whyNot;
        if (!pipewire.start(&whyNot))
            GTEST_SKIP() << "No private PipeWire: " << whyNot.toStdString();
        const std::optional<uint32_t> node =
            pipewire.startProducer(producer, QStringLiteral("mivra-test-monitor"), QStringLiteral("ball"),
                                   QStringLiteral("video/x-raw,format=BGRx,width=320,height=240,framerate=30/1"));
        ASSERT_TRUE(node) << "the test video node did not appear";
        fake.nodeId = *node;
        fake.size = QSize(320, 240);
        fake.makeRemote = [this] { return pipewire.connect().release(); };
        ASSERT_TRUE(fake.registerOn(pipewire.bus().connect()));
        PortalScreenCast::Options options;
        options.bus = pipewire.bus().connect();
        portal = std::make_shared<PortalScreenCast>(preferences, options);
        platform = std::make_shared<WaylandCapturePlatform>(portal);
    }
    void TearDown() override { fake.unregister(); }

    QString failureOfDisplays()
    {
        return failureText([&] { platform->displays(); });
    }

    PrivatePipeWire pipewire;
    TestProcess producer;
    FakeScreenCastPortal fake;
    std::shared_ptr<MemoryPreferenceStore> preferences = std::make_shared<MemoryPreferenceStore>();
    std::shared_ptr<PortalScreenCast> portal;
    std::shared_ptr<WaylandCapturePlatform> platform;
    QTemporaryDir dir;
};

TEST_F(WaylandCapturePlatformTest, RecordsTheSharedMonitorAndEndsTheSessionAfterwards)
{
    ASSERT_EQ(failureText(platform->prepare()), QString());
    const QList<DisplayInfo> displays = platform->displays();
    ASSERT_EQ(displays.size(), 1);
    EXPECT_EQ(displays.first().id, fake.nodeId);
    EXPECT_EQ(displays.first().widthPoints, 320.0);
    EXPECT_EQ(displays.first().heightPoints, 240.0);
    EXPECT_EQ(platform->displayIdOf(QGuiApplication::primaryScreen(), displays), fake.nodeId);

    ScreenRecorder::Options options;
    options.choosePreset = [](PixelSize) { return QStringLiteral("ultrafast"); };
    ScreenRecorder recorder(platform, options);
    const QString path = dir.filePath(QStringLiteral("wayland.mp4"));
    ASSERT_EQ(failureText(recorder.start(path, QGuiApplication::primaryScreen(), false, std::nullopt)), QString());
    QElapsedTimer recording;
    recording.start();
    waitUntil([] { return false; }, 1000); // something to record
    // The recorder asks anew at start, which ends the session opened above and
    // left unused; the recording's own session stays open while it runs.
    EXPECT_EQ(fake.closedSessions.size(), 1) << "the desktop shares while recording";
    const qint64 recordedMs = recording.elapsed();
    const RecordingResult result = run(recorder.stop());
    EXPECT_EQ(result.width, 320);
    EXPECT_EQ(result.height, 240);
    // From the first picture, which comes within a few frames of the start.
    EXPECT_LE(result.durationMs, recordedMs + 50);
    EXPECT_GE(result.durationMs, recordedMs - 400);

    ASSERT_TRUE(waitUntil([&] { return fake.closedSessions.size() == 2; }, 3000));
    // Each recording asks anew (silently, with the token).
    EXPECT_EQ(failureOfDisplays(), kNotShared);
}

TEST_F(WaylandCapturePlatformTest, ASecondPrepareEndsTheUnusedSession)
{
    ASSERT_EQ(failureText(platform->prepare()), QString());
    ASSERT_EQ(failureText(platform->prepare()), QString());
    ASSERT_TRUE(waitUntil([&] { return fake.closedSessions.size() == 1; }, 2000));
    EXPECT_EQ(platform->displays().size(), 1);
}

TEST_F(WaylandCapturePlatformTest, NothingIsListedBeforeTheDesktopSharesNorAfterAskingOnce)
{
    EXPECT_EQ(failureOfDisplays(), kNotShared);
    EXPECT_TRUE(fake.calls.isEmpty());
    ASSERT_EQ(failureText(platform->askOnce()), QString());
    EXPECT_EQ(preferences->textValue(PortalScreenCast::restoreTokenKey), QStringLiteral("token-1"));
    ASSERT_TRUE(waitUntil([&] { return fake.closedSessions.size() == 1; }, 2000));
    EXPECT_EQ(failureOfDisplays(), kNotShared);
}

TEST_F(WaylandCapturePlatformTest, OpeningAnotherDisplayIsRefused)
{
    ASSERT_EQ(failureText(platform->prepare()), QString());
    DisplayInfo other = platform->displays().first();
    other.id += 1;
    EXPECT_EQ(failureText([&] { platform->openScreen(other); }), kNotShared);
}

} // namespace
