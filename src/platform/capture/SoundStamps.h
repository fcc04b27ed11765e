#pragma once

#include <cstdint>
#include <cstdlib>

// When the first sample of a chunk of microphone sound was heard, from the
// sound server's latency report taken at nowUs (`timed` false: no report).
inline int64_t soundHeardAtUs(int64_t nowUs, bool timed, uint64_t latencyUs, bool negative)
{
    // A negative latency (the server's read index ahead of its write index)
    // would stamp the sound in the future: nothing is heard later than now.
    return timed && !negative ? nowUs - int64_t(latencyUs) : nowUs;
}

// Time stamps for consecutive chunks of sound. Latency reports jitter by
// milliseconds from fragment to fragment, while the samples themselves are
// evenly spaced: count samples from an anchor and move the anchor only when
// the reports disagree by more than jitter (a dropout, or the sound card's
// clock drifting from ours), or when the count runs ahead of the present,
// where nothing can have been heard yet.
class SoundStamps {
public:
    static constexpr int64_t kJitterUs = 20'000;

    int64_t stampFor(int64_t heardUs, int64_t nowUs, int frameCount, int sampleRate)
    {
        int64_t countedUs = m_anchorUs + m_samplesSinceAnchor * 1'000'000 / sampleRate;
        if (m_anchorUs < 0 || std::abs(heardUs - countedUs) > kJitterUs || countedUs > nowUs) {
            m_anchorUs = heardUs;
            m_samplesSinceAnchor = 0;
            countedUs = heardUs;
        }
        m_samplesSinceAnchor += frameCount;
        return countedUs;
    }

private:
    int64_t m_anchorUs = -1;
    int64_t m_samplesSinceAnchor = 0;
};
