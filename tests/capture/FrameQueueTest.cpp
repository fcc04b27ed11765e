#include "capture/FrameQueue.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

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
    EXPECT_EQ(batch.video[0].timestampUs, 4);
    EXPECT_EQ(batch.video[1].timestampUs, 5);
    EXPECT_EQ(queue.droppedVideoFrames(), 3);
    EXPECT_EQ(batch.audio.size(), 10u);
    EXPECT_EQ(batch.audio.front().timestampUs, 50'000);
    EXPECT_EQ(queue.droppedAudioChunks(), 5);
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

} // namespace
