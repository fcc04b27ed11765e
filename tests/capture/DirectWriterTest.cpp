// The direct writer on its own, no display: what it makes of pictures and
// sound handed to it, checked in the file with ffmpeg.
#include "FfprobeReport.h"

#include "capture/DirectWriter.h"
#include "capture/Recorder.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <future>
#include <thread>

namespace {

constexpr int kRate = 48000;
constexpr int64_t kChunkUs = 10'000;

// A capture picture: red on the left half, blue on the right.
VideoFrame picture(int width, int height, int64_t atUs)
{
    std::shared_ptr<uint8_t[]> pixels(new uint8_t[std::size_t(width) * height * 4]);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t *p = pixels.get() + (std::size_t(y) * width + x) * 4;
            const bool left = x < width / 2;
            p[0] = left ? 0 : 255, p[1] = 0, p[2] = left ? 255 : 0, p[3] = 255;
        }
    return VideoFrame{pixels, width, height, width * 4, atUs};
}

// 10 ms of mono sound starting at atUs: silence before toneUs, a tone after.
AudioChunk sound(int64_t atUs, int64_t toneUs)
{
    AudioChunk chunk{std::vector<float>(kRate / 100), 1, kRate, atUs};
    for (std::size_t i = 0; i < chunk.samples.size(); ++i) {
        const int64_t t = atUs + int64_t(i) * 1'000'000 / kRate;
        chunk.samples[i] = t >= toneUs ? 0.5f * std::sin(float(t) * 2.0f * 3.14159265f * 440.0f / 1e6f) : 0.0f;
    }
    return chunk;
}

struct Written {
    std::optional<QString> error;
    QString path;
};

// Hands the writer its input, finishes at endUs and waits for the file.
template <typename Feed> Written write(QTemporaryDir &dir, PixelSize size, int64_t endUs, Feed feed)
{
    WriterSettings settings;
    settings.path = dir.filePath(QStringLiteral("direct.mp4"));
    settings.size = size;
    settings.preset = QStringLiteral("ultrafast");
    settings.audioSampleRate = kRate;
    settings.audioChannels = 1;
    DirectWriter writer(settings);
    feed(writer);
    std::promise<std::optional<QString>> finished;
    writer.finish(endUs, [&](std::optional<QString> error) { finished.set_value(error); });
    return Written{finished.get_future().get(), settings.path};
}

// Seconds into the file where the tone begins.
double toneOnsetSeconds(const QString &path)
{
    const QVector<float> samples = decodeAudioMono(path, kRate);
    for (qsizetype i = 0; i < samples.size(); ++i)
        if (std::abs(samples[i]) > 0.1f)
            return double(i) / kRate;
    return -1;
}

TEST(DirectWriter, SoundLinesUpWithTheFirstPicture)
{
    // Sound from before the first picture is cut at it; sound that starts
    // later keeps its distance from it. The tone always starts 200 ms into
    // the sound.
    const struct {
        int64_t soundFromUs; // relative to the first picture
        double onsetSeconds;
    } cases[] = {{-100'000, 0.1}, {0, 0.2}, {500'000, 0.7}};
    for (const auto &c : cases) {
        QTemporaryDir dir;
        const int64_t startUs = monotonicNowUs();
        const Written file = write(dir, PixelSize{320, 180}, startUs + 1'000'000, [&](DirectWriter &writer) {
            int64_t at = startUs + c.soundFromUs;
            for (; at < startUs; at += kChunkUs)
                writer.audioChunk(sound(at, startUs + c.soundFromUs + 200'000));
            // The first picture comes after the early sound, as from a real
            // screen: the writer holds that sound until it has a start.
            if (c.soundFromUs < 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(30));
            writer.videoFrame(picture(320, 180, startUs));
            for (; at < startUs + 1'000'000; at += kChunkUs)
                writer.audioChunk(sound(at, startUs + c.soundFromUs + 200'000));
            writer.videoFrame(picture(320, 180, startUs + 1'000'000));
        });
        ASSERT_FALSE(file.error) << file.error->toStdString();
        EXPECT_NEAR(toneOnsetSeconds(file.path), c.onsetSeconds, 0.03) << "sound from " << c.soundFromUs << " us";
        EXPECT_NEAR(ffprobe(file.path).durationSeconds(), 1.0, 0.1);
    }
}

TEST(DirectWriter, ACaptureLargerThanTheVideoIsScaledWhole)
{
    QTemporaryDir dir;
    const int64_t startUs = monotonicNowUs();
    const Written file = write(dir, PixelSize{320, 180}, startUs + 500'000, [&](DirectWriter &writer) {
        writer.videoFrame(picture(1280, 720, startUs));
        writer.videoFrame(picture(1280, 720, startUs + 500'000));
    });
    ASSERT_FALSE(file.error);
    const FfprobeReport report = ffprobe(file.path);
    EXPECT_EQ(report.video.value(QStringLiteral("width")).toInt(), 320);
    EXPECT_EQ(report.video.value(QStringLiteral("height")).toInt(), 180);
    const QByteArray bgrx = decodeFrameBgrx(file.path, 0.2, 320, 180);
    ASSERT_FALSE(bgrx.isEmpty());
    const auto pixel = [&](int x, int y) { return bgrx.mid((y * 320 + x) * 4, 3); };
    // Both halves in the picture, not a corner of it.
    for (const auto &[x, red] : {std::pair{20, true}, {150, true}, {170, false}, {300, false}}) {
        EXPECT_NEAR(uchar(pixel(x, 90)[2]), red ? 255 : 0, 24) << x;
        EXPECT_NEAR(uchar(pixel(x, 90)[0]), red ? 0 : 255, 24) << x;
    }
}

TEST(DirectWriter, NoPictureAtAllIsAnError)
{
    QTemporaryDir dir;
    const int64_t startUs = monotonicNowUs();
    const Written file = write(dir, PixelSize{320, 180}, startUs + 300'000,
                               [&](DirectWriter &writer) { writer.audioChunk(sound(startUs, startUs)); });
    EXPECT_EQ(file.error, QStringLiteral("Nothing was recorded: no picture of the screen arrived."));
}

} // namespace
