// Pure rules of capture: the microphone's time stamps, the encoder preset
// choice, the picture buffer pool and queue, colour conversion and video sizes.
#include "capture/ColorConvert.h"
#include "capture/EncoderPreset.h"
#include "capture/FrameQueue.h"
#include "capture/VideoSize.h"
#include "platform/capture/FrameBufferPool.h"
#include "platform/capture/SoundStamps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <set>
#include <thread>
#include <tuple>

namespace {

TEST(SoundStamps, HeardTimeCountsBackByTheLatencyButNeverIntoTheFuture)
{
    const struct {
        bool timed;
        uint64_t latencyUs;
        bool negative;
        int64_t heardUs;
    } cases[] = {
        {true, 30'000, false, 970'000},
        {true, 0, false, 1'000'000},
        {true, 30'000, true, 1'000'000},   // a negative report
        {false, 30'000, false, 1'000'000}, // no report
    };
    for (const auto &c : cases)
        EXPECT_EQ(soundHeardAtUs(1'000'000, c.timed, c.latencyUs, c.negative), c.heardUs)
            << c.latencyUs << (c.negative ? " negative" : "") << (c.timed ? "" : " untimed");
}

TEST(SoundStamps, ChunksAreSpacedBySamplesThroughJitterAndReanchorBeyondIt)
{
    // 10 ms chunks at 48 kHz: {heard, now} as the reports come, and the stamp.
    const struct {
        int64_t heardUs;
        int64_t nowUs;
        int64_t stampUs;
    } chunks[] = {
        {1'000'000, 1'030'000, 1'000'000}, // the first anchors
        {1'013'000, 1'040'000, 1'010'000}, // 3 ms of jitter: counted
        {1'016'000, 1'050'000, 1'020'000}, // -4 ms: counted
        {1'100'000, 1'130'000, 1'100'000}, // a dropout of 70 ms: anchored anew
        {1'110'000, 1'140'000, 1'110'000},
        {1'112'000, 1'115'000, 1'112'000}, // counted 1.12 s is past "now": anchored to the report
    };
    SoundStamps stamps;
    for (const auto &c : chunks)
        EXPECT_EQ(stamps.stampFor(c.heardUs, c.nowUs, 480, 48000), c.stampUs) << "heard " << c.heardUs;
}

TEST(EncoderPreset, TheSlowestPresetWithRoomForThirtyASecond)
{
    const struct {
        double veryfast, superfast, ultrafast;
        const char *chosen;
        int measured;
    } cases[] = {
        {46, 90, 200, "veryfast", 1},  // enough at once: nothing more measured
        {44, 46, 200, "superfast", 2}, // 30 a second alone is not enough
        {10, 20, 40, "ultrafast", 3},  // nothing is: the fastest
        {0, 0, 0, "ultrafast", 3},     // no encoder: the fastest
    };
    for (const auto &c : cases) {
        QStringList measured;
        const QString chosen = pickPreset(
            [&](const QString &preset) {
                return preset == QStringLiteral("veryfast")    ? c.veryfast
                       : preset == QStringLiteral("superfast") ? c.superfast
                                                               : c.ultrafast;
            },
            &measured);
        EXPECT_EQ(std::pair(chosen.toStdString(), int(measured.size())), std::pair(std::string(c.chosen), c.measured))
            << measured.join(", ").toStdString();
    }
}

TEST(FrameBufferPool, ReusesReleasedBuffersKeepsAFewAndOutlivesNone)
{
    auto pool = std::make_shared<FrameBufferPool>();
    pool->bytes = 64;
    std::vector<std::shared_ptr<uint8_t[]>> held(6);
    std::set<const uint8_t *> first;
    for (auto &buffer : held)
        first.insert((buffer = FrameBufferPool::take(pool)).get());
    held.clear();
    // Four of the six kept (the rest went back to the system), one given again.
    auto again = FrameBufferPool::take(pool);
    EXPECT_EQ(std::tuple(first.size(), pool->free.size(), first.count(again.get())), std::tuple(6u, 3u, 1u));
    // A buffer still queued when the pool goes is simply freed.
    pool.reset();
    again.reset();
}

const auto kSoon = [] { return std::chrono::steady_clock::now() + std::chrono::milliseconds(50); };

TEST(FrameQueue, KeepsTheNewestPicturesAndSoundUpToItsBacklogCountingTheDropped)
{
    FrameQueue queue(2, 100'000);
    for (int i = 1; i <= 5; ++i)
        queue.pushVideo(VideoFrame{nullptr, 0, 0, 0, i});
    for (int i = 0; i < 15; ++i) // 10 ms each
        queue.pushAudio(AudioChunk{std::vector<float>(480), 1, 48000, i * 10'000});
    const FrameQueue::Batch batch = queue.take(kSoon());
    ASSERT_EQ(batch.video.size(), 2u);
    EXPECT_EQ(std::tuple(batch.video[0].timestampUs, batch.video[1].timestampUs, queue.droppedVideoFrames(),
                         batch.audio.size(), batch.audio.front().timestampUs, queue.droppedAudioChunks()),
              std::tuple(4, 5, 3, 10u, 50'000, 5));
}

TEST(FrameQueue, TakeWakesOnInputAndOnClose)
{
    // Long deadlines: a take that is not woken returns only at its deadline.
    FrameQueue queue;
    const auto far = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::thread producer([&] { queue.pushVideo(VideoFrame{nullptr, 0, 0, 0, 1}); });
    EXPECT_EQ(queue.take(far).video.size(), 1u);
    producer.join();
    std::thread closer([&] { queue.close(); });
    EXPECT_TRUE(queue.take(far).closed);
    closer.join();
    EXPECT_LT(std::chrono::steady_clock::now(), far);
    queue.pushVideo(VideoFrame{nullptr, 0, 0, 0, 2}); // after close: ignored
    EXPECT_TRUE(queue.take(kSoon()).video.empty());
}

// Reference values of limited-range BT.709 (not BT.601: red would be Y 81).
TEST(ColorConvert, UsesTheBt709Matrix)
{
    const struct {
        uint8_t b, g, r;
        int y, u, v;
    } cases[] = {
        {255, 255, 255, 235, 128, 128}, {0, 0, 0, 16, 128, 128}, {0, 0, 255, 63, 102, 240}, {255, 0, 0, 32, 240, 118}};
    for (const auto &c : cases) {
        // A solid 4x2 picture; the X byte is never read as alpha.
        const std::vector<uint32_t> bgrx(8, 0xff000000u | uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | c.b);
        std::array<uint8_t, 8> y{};
        std::array<uint8_t, 2> u{}, v{};
        bgrxToI420Bt709(reinterpret_cast<const uint8_t *>(bgrx.data()), 16, y.data(), 4, u.data(), 2, v.data(), 2, 4,
                        2);
        SCOPED_TRACE(testing::Message() << int(c.r) << "," << int(c.g) << "," << int(c.b));
        EXPECT_LE(std::max({std::abs(y[0] - c.y), std::abs(u[0] - c.u), std::abs(v[0] - c.v)}), 1)
            << int(y[0]) << " " << int(u[0]) << " " << int(v[0]);
    }
}

TEST(VideoSize, IsAlwaysEvenAndAtMost2560OnTheLongerSide)
{
    for (double w : {333.0, 799.5, 1366.0, 1440.0, 2561.0, 3001.0, 5120.0})
        for (double h : {201.0, 767.0, 900.0, 1599.0, 2880.0})
            for (double scale : {1.0, 1.25, 1.5, 2.0}) {
                const PixelSize s = videoSizeFor(w, h, scale);
                EXPECT_TRUE(s.width % 2 == 0 && s.height % 2 == 0 && s.width > 0 && std::max(s.width, s.height) <= 2560)
                    << w << "x" << h << " at " << scale << ": " << s.width << "x" << s.height;
            }
    EXPECT_EQ(videoSizeFor(1080, 1920, 2.0), (PixelSize{1440, 2560})); // portrait caps the height
    EXPECT_EQ(videoSizeFor(1365, 767, 1.0), (PixelSize{1364, 766}));   // odd sizes round down
}

// None wanted and none at all are the recorder's tests.
TEST(DisplayChoice, TakesTheWantedDisplayElseTheFirst)
{
    const QList<DisplayInfo> displays = {DisplayInfo{3, "a", {}, 10, 10}, DisplayInfo{5, "b", {}, 20, 20}};
    EXPECT_EQ(std::pair(chooseDisplay(displays, 5u)->id, chooseDisplay(displays, 4u)->id), std::pair(5u, 3u));
}

} // namespace
