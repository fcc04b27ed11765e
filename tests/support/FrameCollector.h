#pragma once

// Collects what a ScreenSource (X11 or PipeWire) delivers on its thread;
// tests wait for a count or for a picture that shows what they expect.

#include "platform/capture/ScreenCapture.h"

#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

class FrameCollector {
public:
    // Starts `source` delivering into this collector.
    void start(ScreenSource &source)
    {
        source.start(
            [this](VideoFrame frame) {
                std::lock_guard lock(m_mutex);
                m_frames.push_back(std::move(frame));
                m_changed.notify_all();
            },
            [this](const QString &text) {
                std::lock_guard lock(m_mutex);
                m_failures << text;
                m_changed.notify_all();
            });
    }

    std::size_t count() const
    {
        std::lock_guard lock(m_mutex);
        return m_frames.size();
    }
    std::vector<VideoFrame> frames() const
    {
        std::lock_guard lock(m_mutex);
        return m_frames;
    }
    VideoFrame last() const
    {
        std::lock_guard lock(m_mutex);
        return m_frames.empty() ? VideoFrame{} : m_frames.back();
    }
    QStringList failures() const
    {
        std::lock_guard lock(m_mutex);
        return m_failures;
    }

    void clear()
    {
        std::lock_guard lock(m_mutex);
        m_frames.clear();
        m_failures.clear();
    }

    // Waits until more than `seen` pictures came; true if they did.
    bool waitBeyond(std::size_t seen, int timeoutMs = 5000)
    {
        return waitFor(
            [seen](const std::vector<VideoFrame> &frames, const QStringList &) { return frames.size() > seen; },
            timeoutMs);
    }
    // Waits until the latest picture satisfies `shows`; true if one did.
    bool waitForPicture(const std::function<bool(const VideoFrame &)> &shows, int timeoutMs = 5000)
    {
        return waitFor([&](const std::vector<VideoFrame> &frames,
                           const QStringList &) { return !frames.empty() && shows(frames.back()); },
                       timeoutMs);
    }
    bool waitForFailure(int timeoutMs = 5000)
    {
        return waitFor([](const std::vector<VideoFrame> &, const QStringList &failures) { return !failures.isEmpty(); },
                       timeoutMs);
    }

private:
    template <typename Done> bool waitFor(Done done, int timeoutMs)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [&] { return done(m_frames, m_failures); });
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<VideoFrame> m_frames;
    QStringList m_failures;
};

// 0xRRGGBB of one pixel of a B,G,R,X picture.
inline uint32_t pixelAt(const VideoFrame &frame, int x, int y)
{
    const uint8_t *p = frame.pixels.get() + std::ptrdiff_t(y) * frame.strideBytes + x * 4;
    return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}
