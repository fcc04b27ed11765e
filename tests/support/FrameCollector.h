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
        source.start([this](VideoFrame frame) { add([&] { m_frames.push_back(std::move(frame)); }); },
                     [this](const QString &text) { add([&] { m_failures << text; }); });
    }

    std::vector<VideoFrame> frames() const
    {
        std::lock_guard lock(m_mutex);
        return m_frames;
    }
    std::size_t count() const { return frames().size(); }
    VideoFrame last() const
    {
        const std::vector<VideoFrame> all = frames();
        return all.empty() ? VideoFrame{} : all.back();
    }
    QStringList failures() const
    {
        std::lock_guard lock(m_mutex);
        return m_failures;
    }

    // Waits until more than `seen` pictures came; true if they did.
    bool waitBeyond(std::size_t seen, int timeoutMs = 5000)
    {
        return waitFor([&] { return m_frames.size() > seen; }, timeoutMs);
    }
    // Waits until the latest picture satisfies `shows`; true if one did.
    bool waitForPicture(const std::function<bool(const VideoFrame &)> &shows, int timeoutMs = 5000)
    {
        return waitFor([&] { return !m_frames.empty() && shows(m_frames.back()); }, timeoutMs);
    }
    // Waits until 150 ms pass without a new picture (for up to 3 s); true if they did.
    bool waitForQuiet()
    {
        for (int tries = 0; tries < 20; ++tries)
            if (!waitBeyond(count(), 150))
                return true;
        return false;
    }
    bool waitForFailure(int timeoutMs = 5000)
    {
        return waitFor([&] { return !m_failures.isEmpty(); }, timeoutMs);
    }

private:
    template <typename Change> void add(Change change)
    {
        std::lock_guard lock(m_mutex);
        change();
        m_changed.notify_all();
    }
    template <typename Done> bool waitFor(Done done, int timeoutMs)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), done);
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
