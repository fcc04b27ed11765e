#include "capture/FrameQueue.h"

#include <gtest/gtest.h>

#include <thread>

namespace {
VideoFrame frameAt(int64_t us)
{
    VideoFrame frame;
    frame.timestampUs = us;
    return frame;
}
AudioChunk chunkAt(int64_t us)
{
    AudioChunk chunk;
    chunk.channels = 1;
    chunk.sampleRate = 48000;
    chunk.samples.assign(480, 0.0f); // 10 ms
    chunk.timestampUs = us;
    return chunk;
}
const auto kSoon = [] { return std::chrono::steady_clock::now() + std::chrono::milliseconds(50); };
} // namespace

TEST(FrameQueue, KeepsTheNewestPicturesAndCountsTheDropped)
{
    FrameQueue queue(2);
    for (int i = 1; i <= 5; ++i)
        queue.pushVideo(frameAt(i));
    const FrameQueue::Batch batch = queue.take(kSoon());
    ASSERT_EQ(batch.video.size(), 2u);
    EXPECT_EQ(batch.video[0].timestampUs, 4);
    EXPECT_EQ(batch.video[1].timestampUs, 5);
    EXPECT_EQ(queue.droppedVideoFrames(), 3);
}

TEST(FrameQueue, KeepsSoundUpToItsBacklogLimit)
{
    FrameQueue queue(2, 100'000);
    for (int i = 0; i < 15; ++i)
        queue.pushAudio(chunkAt(i * 10'000));
    const FrameQueue::Batch batch = queue.take(kSoon());
    EXPECT_EQ(batch.audio.size(), 10u);
    EXPECT_EQ(batch.audio.front().timestampUs, 50'000);
    EXPECT_EQ(queue.droppedAudioChunks(), 5);
}

TEST(FrameQueue, TakeWakesOnInputAndOnClose)
{
    FrameQueue queue;
    std::thread producer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        queue.pushVideo(frameAt(1));
    });
    const auto far = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    const FrameQueue::Batch batch = queue.take(far);
    producer.join();
    EXPECT_EQ(batch.video.size(), 1u);
    EXPECT_FALSE(batch.closed);
    std::thread closer([&] { queue.close(); });
    EXPECT_TRUE(queue.take(far).closed);
    closer.join();
    queue.pushVideo(frameAt(2)); // after close: ignored
    EXPECT_TRUE(queue.take(kSoon()).video.empty());
}
