#include "platform/capture/PulseMicrophone.h"
#include "Await.h"
#include "TestSound.h"
#include "capture/Recorder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <condition_variable>
#include <mutex>

namespace {

TEST(PulseMicrophone, DeliversTheSoundInRealTimeStampedWhenItWasHeard)
{
    if (!haveTestSoundServer())
        GTEST_SKIP() << "No PulseAudio server; scripts/test starts one.";
    ToneFeed tone;
    ASSERT_TRUE(tone.running());
    PulseMicrophone mic;
    EXPECT_EQ(mic.sampleRate(), 48000);
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<AudioChunk> chunks;
    std::vector<int64_t> arrivals;
    mic.start(
        [&](AudioChunk chunk) {
            std::lock_guard lock(mutex);
            arrivals.push_back(monotonicNowUs());
            chunks.push_back(std::move(chunk));
            arrived.notify_all();
        },
        [](const QString &) {});
    {
        std::unique_lock lock(mutex);
        arrived.wait_for(lock, std::chrono::seconds(5), [&] { return chunks.size() >= 25; });
    }
    mic.stop();
    std::lock_guard lock(mutex);
    ASSERT_GE(chunks.size(), 25u) << "too little sound within 5 s";

    int64_t frames = 0;
    double sumSquares = 0;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        // Heard before it was handed over, and not long before. (How long
        // depends on the test server's buffering, which varies by run.)
        EXPECT_LE(chunks[i].timestampUs, arrivals[i]);
        EXPECT_GT(chunks[i].timestampUs, arrivals[i] - 1000000);
        EXPECT_GT(chunks[i].timestampUs, i > 0 ? chunks[i - 1].timestampUs : 0);
        frames += chunks[i].frameCount();
        for (float s : chunks[i].samples)
            sumSquares += double(s) * s;
    }
    const AudioChunk &first = chunks.front();
    // The tone is there (a sine of the test's level, not silence).
    EXPECT_GT(std::sqrt(sumSquares / double(frames * first.channels)), 0.02);
}

TEST(PulseMicrophone, SaysSoWhenTheSoundServerCannotBeReached)
{
    const QByteArray saved = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", "unix:/nonexistent/mivra-no-server");
    const QString said = failureText([] { PulseMicrophone mic; });
    EXPECT_TRUE(said.startsWith(
        "The microphone cannot be recorded: the sound server (PulseAudio or PipeWire) cannot be reached"))
        << said.toStdString();
    EXPECT_TRUE(said.endsWith('.'));
    if (saved.isEmpty())
        qunsetenv("PULSE_SERVER");
    else
        qputenv("PULSE_SERVER", saved);
}

} // namespace
