#pragma once

#include <algorithm>
#include <cstdint>

// Lets pictures go out at 30 a second on average. Two slots can be saved up,
// so that a producer's jitter around 33 ms does not make a picture wait
// until the next one replaces it.
class FramePacer {
public:
    static constexpr double kFramesPerSecond = 30;
    static constexpr double kBurstFrames = 2;

    // Takes a slot if one is free at nowUs (monotonic microseconds).
    bool tryTake(int64_t nowUs)
    {
        refill(nowUs);
        if (m_slots < 1)
            return false;
        m_slots -= 1;
        return true;
    }
    // Microseconds from the last tryTake until the next slot is free.
    int64_t waitUs() const { return m_slots >= 1 ? 0 : int64_t((1 - m_slots) / kFramesPerSecond * 1e6) + 1; }

private:
    void refill(int64_t nowUs)
    {
        m_slots =
            m_started ? std::min(kBurstFrames, m_slots + (nowUs - m_atUs) * kFramesPerSecond / 1e6) : kBurstFrames;
        m_started = true;
        m_atUs = nowUs;
    }

    double m_slots = 0;
    int64_t m_atUs = 0;
    bool m_started = false;
};
