// Pure rules of capture: the microphone's time stamps, the encoder preset
// choice and the picture buffer pool.
#include "capture/EncoderPreset.h"
#include "platform/capture/FrameBufferPool.h"
#include "platform/capture/SoundStamps.h"

#include <gtest/gtest.h>

#include <set>

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
    std::set<const uint8_t *> first;
    {
        std::vector<std::shared_ptr<uint8_t[]>> held;
        for (int i = 0; i < 6; ++i) {
            held.push_back(FrameBufferPool::take(pool));
            first.insert(held.back().get());
        }
        EXPECT_EQ(first.size(), 6u);
    }
    EXPECT_EQ(pool->free.size(), 4u); // the rest went back to the system
    for (int i = 0; i < 4; ++i) {
        auto again = FrameBufferPool::take(pool);
        EXPECT_TRUE(first.count(again.get())) << "buffer " << i << " was not reused";
    }
    // A buffer still queued when the pool goes is simply freed.
    auto late = FrameBufferPool::take(pool);
    pool.reset();
    late.reset();
}

} // namespace
