#pragma once

#include "platform/capture/CaptureTypes.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

// Hands pictures and sound from the capture threads to the encoder thread.
// Pictures are bounded: when the encoder falls behind the oldest waiting
// picture is dropped and counted, so the video stays current. Sound is only
// dropped past a long backlog, also counted.
class FrameQueue {
public:
    explicit FrameQueue(std::size_t videoCapacity = 2, int64_t audioBacklogLimitUs = 5'000'000);

    void pushVideo(VideoFrame frame);
    void pushAudio(AudioChunk chunk);
    // No more input; wakes the taker.
    void close();

    struct Batch {
        std::deque<VideoFrame> video;
        std::deque<AudioChunk> audio;
        bool closed = false;
    };
    // Everything queued, waiting until something is there, the queue is
    // closed or the deadline passes.
    Batch take(std::chrono::steady_clock::time_point deadline);

    int64_t droppedVideoFrames() const;
    int64_t droppedAudioChunks() const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_ready;
    std::size_t m_videoCapacity;
    int64_t m_audioBacklogLimitUs;
    std::deque<VideoFrame> m_video;
    std::deque<AudioChunk> m_audio;
    int64_t m_audioQueuedUs = 0;
    bool m_closed = false;
    int64_t m_droppedVideo = 0;
    int64_t m_droppedAudio = 0;
};
