#include "platform/capture/PipeWireScreenSource.h"
#include "Await.h"
#include "FrameCollector.h"
#include "WaylandTestServices.h"
#include "capture/Recorder.h"

#include <gtest/gtest.h>

namespace {

class PipeWireScreenSourceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString whyNot;
        if (!pipewire.start(&whyNot))
            GTEST_SKIP() << "No private PipeWire: " << whyNot.toStdString();
    }
    // A source on a new producer of `pattern` in `caps`, delivering into `delivered`.
    std::unique_ptr<PipeWireScreenSource> startSource(const QString &pattern, const QString &caps,
                                                      const QString &extra = QString())
    {
        const std::optional<uint32_t> node =
            pipewire.startProducer(producer, QStringLiteral("mivra-test-screen"), pattern, caps, extra);
        if (!node)
            return nullptr;
        auto source = std::make_unique<PipeWireScreenSource>(pipewire.connect(), *node);
        delivered.start(*source);
        return source;
    }

    PrivatePipeWire pipewire;
    TestProcess producer;
    FrameCollector delivered;
};

TEST_F(PipeWireScreenSourceTest, DeliversTheNodesPicturesAsBgrx)
{
    const struct {
        const char *pattern;
        const char *format;
        uint32_t rgb;
    } cases[] = {{"blue", "BGRx", 0x0000ff}, {"red", "BGRA", 0xff0000}};
    for (const auto &c : cases) {
        auto source = startSource(QString::fromLatin1(c.pattern),
                                  QStringLiteral("video/x-raw,format=%1,width=322,height=240,framerate=30/1")
                                      .arg(QString::fromLatin1(c.format)));
        ASSERT_TRUE(source) << "the test video node did not appear";
        ASSERT_TRUE(delivered.waitBeyond(0)) << delivered.failures().join(' ').toStdString();
        source->stop();
        // No picture after stop returns.
        EXPECT_EQ(source->framesCaptured(), int64_t(delivered.count()));
        const VideoFrame frame = delivered.last();
        EXPECT_EQ(frame.width, 322);
        EXPECT_EQ(frame.height, 240);
        EXPECT_EQ(frame.strideBytes, 322 * 4);
        EXPECT_EQ(pixelAt(frame, 0, 0), c.rgb) << c.format;
        EXPECT_EQ(pixelAt(frame, 321, 239), c.rgb) << c.format;
        EXPECT_GT(frame.timestampUs, 0);
        EXPECT_LE(frame.timestampUs, monotonicNowUs());
        EXPECT_TRUE(delivered.failures().isEmpty()) << "stopping is no failure";
        delivered.clear();
    }
}

TEST_F(PipeWireScreenSourceTest, AFasterProducerIsThinnedToThirtyASecond)
{
    auto source = startSource(QStringLiteral("ball"),
                              QStringLiteral("video/x-raw,format=BGRx,width=160,height=120,framerate=90/1"));
    ASSERT_TRUE(source);
    ASSERT_TRUE(delivered.waitBeyond(20, 10000));
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

TEST_F(PipeWireScreenSourceTest, TheNodeGoingAwayIsAFailure)
{
    auto source = startSource(QStringLiteral("ball"),
                              QStringLiteral("video/x-raw,format=BGRx,width=64,height=48,framerate=30/1"));
    ASSERT_TRUE(source);
    ASSERT_TRUE(delivered.waitBeyond(0));
    producer.stop();
    ASSERT_TRUE(delivered.waitForFailure());
    source->stop();
    EXPECT_EQ(delivered.failures(),
              QStringList{QStringLiteral("The desktop stopped sharing the screen during the recording.")});
}

TEST_F(PipeWireScreenSourceTest, WhatCannotBeOpenedIsRefusedWithAReason)
{
    const struct {
        bool connected;
        uint32_t node;
        const char *reason;
    } cases[] = {
        {true, 987654, "PipeWire does not offer the shared screen (node 987654), so it cannot be recorded."},
        {false, 1, "PipeWire could not be reached, so the screen cannot be recorded."},
    };
    for (const auto &c : cases)
        EXPECT_EQ(failureText([&] { PipeWireScreenSource(c.connected ? pipewire.connect() : UniqueFd(), c.node); }),
                  QString::fromUtf8(c.reason));
}

} // namespace
