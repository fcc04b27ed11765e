#include "capture/FrameQueue.h"

#include <gtest/gtest.h>

#include <thread>
#include <tuple>

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
    std::vector<int64_t> video, audio;
    for (const VideoFrame &frame : batch.video)
        video.push_back(frame.timestampUs);
    for (const AudioChunk &chunk : batch.audio)
        audio.push_back(chunk.timestampUs / 10'000);
    EXPECT_EQ(std::tuple(video, queue.droppedVideoFrames(), audio, queue.droppedAudioChunks()),
              std::tuple(std::vector<int64_t>{4, 5}, 3, std::vector<int64_t>{5, 6, 7, 8, 9, 10, 11, 12, 13, 14}, 5));
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
