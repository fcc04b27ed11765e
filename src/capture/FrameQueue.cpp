#include "capture/FrameQueue.h"

namespace {
int64_t chunkDurationUs(const AudioChunk &chunk)
{
    return chunk.sampleRate > 0 ? int64_t(chunk.frameCount()) * 1000000 / chunk.sampleRate : 0;
}
} // namespace

FrameQueue::FrameQueue(std::size_t videoCapacity, int64_t audioBacklogLimitUs)
    : m_videoCapacity(videoCapacity > 0 ? videoCapacity : 1), m_audioBacklogLimitUs(audioBacklogLimitUs)
{
}

void FrameQueue::pushVideo(VideoFrame frame)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_closed)
            return;
        while (m_video.size() >= m_videoCapacity) {
            m_video.pop_front();
            ++m_droppedVideo;
        }
        m_video.push_back(std::move(frame));
    }
    m_ready.notify_one();
}

void FrameQueue::pushAudio(AudioChunk chunk)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_closed)
            return;
        m_audioQueuedUs += chunkDurationUs(chunk);
        m_audio.push_back(std::move(chunk));
        while (m_audioQueuedUs > m_audioBacklogLimitUs && m_audio.size() > 1) {
            m_audioQueuedUs -= chunkDurationUs(m_audio.front());
            m_audio.pop_front();
            ++m_droppedAudio;
        }
    }
    m_ready.notify_one();
}

void FrameQueue::close()
{
    {
        std::lock_guard lock(m_mutex);
        m_closed = true;
    }
    m_ready.notify_all();
}

FrameQueue::Batch FrameQueue::take(std::chrono::steady_clock::time_point deadline)
{
    std::unique_lock lock(m_mutex);
    m_ready.wait_until(lock, deadline, [this] { return m_closed || !m_video.empty() || !m_audio.empty(); });
    Batch batch;
    batch.video.swap(m_video);
    batch.audio.swap(m_audio);
    m_audioQueuedUs = 0;
    batch.closed = m_closed;
    return batch;
}

int64_t FrameQueue::droppedVideoFrames() const
{
    std::lock_guard lock(m_mutex);
    return m_droppedVideo;
}

int64_t FrameQueue::droppedAudioChunks() const
{
    std::lock_guard lock(m_mutex);
    return m_droppedAudio;
}
