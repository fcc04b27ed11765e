#include "platform/capture/PulseMicrophone.h"
#include "Await.h"
#include "TestSound.h"
#include "capture/Recorder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <mutex>

namespace {

TEST(PulseMicrophone, DeliversTheSoundInRealTimeStampedWhenItWasHeard)
{
    if (!haveTestSoundServer())
        GTEST_SKIP() << "No PulseAudio server; scripts/test starts one.";
    ToneFeed tone; // the sound's level below tells whether it plays
    PulseMicrophone mic;
    std::mutex mutex;
    std::vector<std::pair<AudioChunk, int64_t>> heard; // with when each was handed over
    mic.start(
        [&](AudioChunk chunk) {
            std::lock_guard lock(mutex);
            heard.emplace_back(std::move(chunk), monotonicNowUs());
        },
        [](const QString &) {});
    waitUntil([&] {
        std::lock_guard lock(mutex);
        return heard.size() >= 25;
    });
    mic.stop();
    ASSERT_GE(heard.size(), 25u) << "too little sound within 5 s";

    int64_t previous = 0;
    double sumSquares = 0;
    std::size_t samples = 0;
    for (const auto &[chunk, handedOverUs] : heard) {
        // Heard after the one before and before it was handed over, but not
        // long before. (How long depends on the test server's buffering,
        // which varies by run.)
        EXPECT_TRUE(chunk.timestampUs > std::max(previous, handedOverUs - 1'000'000) &&
                    chunk.timestampUs <= handedOverUs)
            << chunk.timestampUs << " after " << previous << ", handed over at " << handedOverUs;
        previous = chunk.timestampUs;
        for (float s : chunk.samples)
            sumSquares += double(s) * s;
        samples += chunk.samples.size();
    }
    // The tone is there (a sine of the test's level, not silence).
    EXPECT_GT(std::sqrt(sumSquares / double(samples)), 0.02);
}

TEST(PulseMicrophone, SaysSoWhenTheSoundServerCannotBeReached)
{
    const QByteArray saved = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", "unix:/nonexistent/mivra-no-server");
    const QString said = failureText([] { PulseMicrophone mic; });
    saved.isEmpty() ? qunsetenv("PULSE_SERVER") : qputenv("PULSE_SERVER", saved);
    EXPECT_TRUE(said.startsWith(
                    "The microphone cannot be recorded: the sound server (PulseAudio or PipeWire) cannot be reached") &&
                said.endsWith('.'))
        << said.toStdString();
}

} // namespace
