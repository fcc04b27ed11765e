#include "platform/capture/PipeWireScreenSource.h"
#include "WaylandTestServices.h"
#include "capture/Recorder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

namespace {

// What a source delivered, from its thread.
struct Delivered {
    std::mutex mutex;
    std::vector<VideoFrame> frames;
    QStringList failures;

    std::size_t count()
    {
        std::lock_guard lock(mutex);
        return frames.size();
    }
    VideoFrame first()
    {
        std::lock_guard lock(mutex);
        return frames.front();
    }
    QStringList failed()
    {
        std::lock_guard lock(mutex);
        return failures;
    }
};

bool waitFor(const std::function<bool()> &done, int timeoutMs)
{
    for (int waited = 0; waited < timeoutMs; waited += 5) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
}

// B, G, R of one pixel.
std::array<int, 3> bgrAt(const VideoFrame &frame, int x, int y)
{
    const uint8_t *p = frame.pixels.get() + std::ptrdiff_t(y) * frame.strideBytes + x * 4;
    return {p[0], p[1], p[2]};
}

class PipeWireScreenSourceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString whyNot;
        if (!pipewire.start(&whyNot))
            GTEST_SKIP() << "No private PipeWire: " << whyNot.toStdString();
    }
    uint32_t produce(const QString &pattern, const QString &caps, const QString &extra = QString())
    {
        const std::optional<uint32_t> id =
            pipewire.startProducer(producer, QStringLiteral("mivra-test-screen"), pattern, caps, extra);
        return id.value_or(0);
    }
    std::unique_ptr<PipeWireScreenSource> open(uint32_t nodeId)
    {
        return std::make_unique<PipeWireScreenSource>(pipewire.connect(), nodeId);
    }
    void start(PipeWireScreenSource &source)
    {
        source.start(
            [this](VideoFrame frame) {
                std::lock_guard lock(delivered.mutex);
                delivered.frames.push_back(std::move(frame));
            },
            [this](const QString &text) {
                std::lock_guard lock(delivered.mutex);
                delivered.failures << text;
            });
    }

    PrivatePipeWire pipewire;
    TestProcess producer;
    Delivered delivered;
};

TEST_F(PipeWireScreenSourceTest, DeliversTheNodesPicturesAsBgrx)
{
    const uint32_t node =
        produce(QStringLiteral("blue"), QStringLiteral("video/x-raw,format=BGRx,width=322,height=240,framerate=30/1"));
    ASSERT_NE(node, 0u) << "the test video node did not appear";
    auto source = open(node);
    start(*source);
    ASSERT_TRUE(waitFor([&] { return delivered.count() >= 3; }, 5000)) << delivered.failed().join(' ').toStdString();
    source->stop();
    const VideoFrame frame = delivered.first();
    EXPECT_EQ(frame.width, 322);
    EXPECT_EQ(frame.height, 240);
    EXPECT_EQ(frame.strideBytes, 322 * 4);
    EXPECT_EQ(bgrAt(frame, 0, 0), (std::array<int, 3>{255, 0, 0}));
    EXPECT_EQ(bgrAt(frame, 321, 239), (std::array<int, 3>{255, 0, 0}));
    EXPECT_GT(frame.timestampUs, 0);
    EXPECT_LE(frame.timestampUs, monotonicNowUs());
    EXPECT_TRUE(delivered.failed().isEmpty());
}

TEST_F(PipeWireScreenSourceTest, BgraIsReadInTheSameByteOrder)
{
    const uint32_t node =
        produce(QStringLiteral("red"), QStringLiteral("video/x-raw,format=BGRA,width=64,height=48,framerate=30/1"));
    ASSERT_NE(node, 0u);
    auto source = open(node);
    start(*source);
    ASSERT_TRUE(waitFor([&] { return delivered.count() >= 1; }, 5000)) << delivered.failed().join(' ').toStdString();
    source->stop();
    EXPECT_EQ(bgrAt(delivered.first(), 10, 10), (std::array<int, 3>{0, 0, 255}));
}

TEST_F(PipeWireScreenSourceTest, AFasterProducerIsThinnedToThirtyASecond)
{
    const uint32_t node =
        produce(QStringLiteral("ball"), QStringLiteral("video/x-raw,format=BGRx,width=160,height=120,framerate=90/1"));
    ASSERT_NE(node, 0u);
    auto source = open(node);
    start(*source);
    ASSERT_TRUE(waitFor([&] { return delivered.count() >= 1; }, 5000));
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    source->stop();
    std::lock_guard lock(delivered.mutex);
    const auto &frames = delivered.frames;
    ASSERT_GE(frames.size(), 10u);
    // 30 a second on average, after a burst of at most two.
    const double seconds = (frames.back().timestampUs - frames.front().timestampUs) / 1e6;
    EXPECT_LE((frames.size() - 2) / seconds, 30.5);
    // Four frames use four slots, two of which may be saved up.
    for (std::size_t i = 3; i < frames.size(); ++i)
        EXPECT_GE(frames[i].timestampUs - frames[i - 3].timestampUs, 2 * 1000000 / 30 - 1000) << "frame " << i;
    EXPECT_GT(source->framesSkipped(), 0);
}

TEST_F(PipeWireScreenSourceTest, AProducerAtThirtyASecondLosesNoPictureToJitter)
{
    const uint32_t node =
        produce(QStringLiteral("ball"), QStringLiteral("video/x-raw,format=BGRx,width=160,height=120,framerate=30/1"));
    ASSERT_NE(node, 0u);
    auto source = open(node);
    start(*source);
    ASSERT_TRUE(waitFor([&] { return delivered.count() >= 1; }, 5000));
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));
    source->stop();
    EXPECT_GE(source->framesCaptured(), 50);
    EXPECT_LE(source->framesSkipped(), 2);
}

TEST_F(PipeWireScreenSourceTest, NothingArrivesAfterStop)
{
    const uint32_t node =
        produce(QStringLiteral("ball"), QStringLiteral("video/x-raw,format=BGRx,width=160,height=120,framerate=30/1"));
    ASSERT_NE(node, 0u);
    auto source = open(node);
    start(*source);
    ASSERT_TRUE(waitFor([&] { return delivered.count() >= 2; }, 5000));
    source->stop();
    const std::size_t atStop = delivered.count();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(delivered.count(), atStop);
    EXPECT_EQ(source->framesCaptured(), int64_t(atStop));
    EXPECT_TRUE(delivered.failed().isEmpty()) << "stopping is no failure";
}

TEST_F(PipeWireScreenSourceTest, AQuietProducerGivesNoNewPictures)
{
    // Three pictures, then nothing, like a compositor whose screen is still.
    const uint32_t node =
        produce(QStringLiteral("blue"), QStringLiteral("video/x-raw,format=BGRx,width=64,height=48,framerate=30/1"),
                QStringLiteral("num-buffers=3"));
    ASSERT_NE(node, 0u);
    auto source = open(node);
    start(*source);
    waitFor([&] { return delivered.count() >= 3; }, 3000);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    source->stop();
    EXPECT_GE(delivered.count(), 1u);
    EXPECT_LE(delivered.count(), 3u);
}

TEST_F(PipeWireScreenSourceTest, TheNodeGoingAwayIsAFailure)
{
    const uint32_t node =
        produce(QStringLiteral("ball"), QStringLiteral("video/x-raw,format=BGRx,width=64,height=48,framerate=30/1"));
    ASSERT_NE(node, 0u);
    auto source = open(node);
    start(*source);
    ASSERT_TRUE(waitFor([&] { return delivered.count() >= 1; }, 5000));
    producer.stop();
    ASSERT_TRUE(waitFor([&] { return !delivered.failed().isEmpty(); }, 3000));
    source->stop();
    EXPECT_EQ(delivered.failed(),
              QStringList{QStringLiteral("The desktop stopped sharing the screen during the recording.")});
}

TEST_F(PipeWireScreenSourceTest, ANodePipeWireDoesNotListIsRefusedAtOpen)
{
    try {
        open(987654);
        FAIL() << "opened a node that does not exist";
    } catch (const RecorderError &error) {
        EXPECT_EQ(error.description(),
                  QStringLiteral("PipeWire does not offer the shared screen (node 987654), so it cannot be recorded."));
    }
}

TEST_F(PipeWireScreenSourceTest, NoConnectionIsRefusedAtOpen)
{
    try {
        PipeWireScreenSource source(UniqueFd(), 1);
        FAIL() << "opened without a connection";
    } catch (const RecorderError &error) {
        EXPECT_EQ(error.description(),
                  QStringLiteral("PipeWire could not be reached, so the screen cannot be recorded."));
    }
}

} // namespace
