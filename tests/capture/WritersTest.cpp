// The direct and the compositing writer on their own, no display: what they
// make of pictures and sound handed to them, decoded back from the file.
#include "capture/CameraPicture.h"
#include "capture/CompositeWriter.h"
#include "capture/DirectWriter.h"
#include "capture/Recorder.h"
#include "platform/camera/SyntheticCamera.h"

#include "DecodedPicture.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <future>

namespace {

constexpr int kRate = 48000;

// A screen picture stamped atUs, each pixel 0xXXRRGGBB from `colour(x, y)`.
template <typename Colour> VideoFrame screen(int width, int height, int64_t atUs, Colour colour)
{
    std::shared_ptr<uint8_t[]> pixels(new uint8_t[std::size_t(width) * height * 4]);
    auto *words = reinterpret_cast<uint32_t *>(pixels.get());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            words[std::size_t(y) * width + x] = colour(x, y);
    return VideoFrame{pixels, width, height, width * 4, atUs};
}
VideoFrame solid(int width, int height, uint32_t rgb, int64_t atUs = 0)
{
    return screen(width, height, atUs, [rgb](int, int) { return rgb; });
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

// 320x180 unless told; with `sound`, mono at kRate.
WriterSettings settings(const QTemporaryDir &dir, const QString &name, PixelSize size = {320, 180}, bool sound = false)
{
    WriterSettings settings;
    settings.path = dir.filePath(name + QStringLiteral(".mp4"));
    settings.size = size;
    settings.preset = QStringLiteral("ultrafast");
    settings.audioSampleRate = sound ? kRate : 0;
    settings.audioChannels = sound ? 1 : 0;
    return settings;
}

// Finishes at endUs and waits for the file; the error's text if writing failed.
std::optional<QString> finished(RecordingWriter &writer, int64_t endUs)
{
    std::promise<std::optional<QString>> done;
    writer.finish(endUs, [&done](std::optional<QString> error) { done.set_value(error); });
    return done.get_future().get();
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
    // Sound from before the first picture is cut at it, whether it came
    // before that picture or with it; sound that starts later keeps its
    // distance from it. The tone always starts 200 ms into the sound.
    const struct {
        int64_t soundFromUs; // relative to the first picture
        double onsetSeconds;
    } cases[] = {{-100'000, 0.1}, {0, 0.2}, {500'000, 0.7}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.soundFromUs);
        QTemporaryDir dir;
        const WriterSettings direct = settings(dir, QStringLiteral("direct"), {320, 180}, true);
        DirectWriter writer(direct);
        const int64_t startUs = monotonicNowUs();
        const int64_t toneUs = startUs + c.soundFromUs + 200'000;
        int64_t at = startUs + c.soundFromUs;
        for (; at < startUs; at += 10'000)
            writer.audioChunk(sound(at, toneUs));
        writer.videoFrame(solid(320, 180, 0x808080, startUs));
        for (; at < startUs + 1'000'000; at += 10'000)
            writer.audioChunk(sound(at, toneUs));
        writer.videoFrame(solid(320, 180, 0x808080, startUs + 1'000'000));
        ASSERT_EQ(finished(writer, startUs + 1'000'000), std::nullopt);
        EXPECT_NEAR(toneOnsetSeconds(direct.path), c.onsetSeconds, 0.03);
        EXPECT_NEAR(ffprobe(direct.path).durationSeconds(), 1.0, 0.1);
    }
}

TEST(Writers, AScreenOfAnotherSizeIsScaledWholeNotCropped)
{
    // Four quadrants: blue, yellow over magenta, cyan.
    const auto quadrants = [](int width, int height) {
        return screen(width, height, monotonicNowUs(), [width, height](int x, int y) {
            return y < height / 2 ? (x < width / 2 ? 0x0000FFu : 0xFFFF00u) : (x < width / 2 ? 0xFF00FFu : 0x00FFFFu);
        });
    };
    QTemporaryDir dir;
    for (const bool composited : {false, true})
        for (const QSize captured : {QSize(3840, 2160), QSize(1280, 720), QSize(1000, 800)}) {
            SCOPED_TRACE(testing::Message() << (composited ? "composited " : "direct ") << captured.width());
            const WriterSettings out =
                settings(dir, QStringLiteral("%1-%2").arg(composited).arg(captured.width()), {1280, 720});
            const std::unique_ptr<RecordingWriter> writer =
                composited ? std::unique_ptr<RecordingWriter>(new CompositeWriter(out, 1.0, BubbleSpot::bottomRight))
                           : std::make_unique<DirectWriter>(out);
            const VideoFrame picture = quadrants(captured.width(), captured.height());
            writer->videoFrame(picture);
            ASSERT_EQ(finished(*writer, picture.timestampUs + 500'000), std::nullopt);
            const QImage frame = decodedPicture(out.path, 0, QSize(1280, 720));
            const std::pair<QPoint, QRgb> seen[] = {{{20, 20}, 0x0000FF},   {{1260, 20}, 0xFFFF00},
                                                    {{20, 700}, 0xFF00FF},  {{1260, 700}, 0x00FFFF},
                                                    {{600, 340}, 0x0000FF}, {{680, 380}, 0x00FFFF}};
            for (const auto &[at, rgb] : seen)
                EXPECT_TRUE(near(frame, at, QColor(rgb)));
        }
}

TEST(CompositeWriter, BubbleSitsInItsCornerMirroredWithRim)
{
    QTemporaryDir dir;
    struct Case {
        BubbleSpot spot;
        int left, top; // the square's top-left pixel, rows from the top
    };
    // bottomRight: x 1676-1895, 24-243 px above the bottom edge.
    for (const Case &c : {Case{BubbleSpot::bottomRight, 1676, 1080 - 244}, Case{BubbleSpot::bottomLeft, 24, 836},
                          Case{BubbleSpot::topLeft, 24, 24}, Case{BubbleSpot::topRight, 1676, 24}}) {
        SCOPED_TRACE(rawValue(c.spot).toStdString());
        const WriterSettings out = settings(dir, rawValue(c.spot), {1920, 1080});
        CompositeWriter writer(out, 1.0, c.spot);
        writer.cameraFrame(*bgrxCameraPicture(SyntheticCamera::picture(0)));
        writer.videoFrame(solid(1920, 1080, 0x404040));
        ASSERT_EQ(finished(writer, 0), std::nullopt);
        const QImage frame = decodedPicture(out.path, 0, QSize(1920, 1080));
        const int cx = c.left + 110, cy = c.top + 110;
        const QColor gray(0x404040);
        // Mirrored: the camera's right half (green) shows on the left. The
        // rim, 1 px wide in full, half white over the screen; then the screen
        // untouched: inside the square but outside the circle, left and right
        // of the square, above it.
        const std::pair<QPoint, QColor> seen[] = {{{cx - 40, cy + 20}, Qt::green},
                                                  {{cx + 40, cy + 20}, Qt::red},
                                                  {{c.left + 1, cy}, QColor(160, 160, 160)},
                                                  {{c.left + 2, c.top + 2}, gray},
                                                  {{c.left - 3, cy}, gray},
                                                  {{c.left + 223, cy}, gray},
                                                  {{cx, std::max(c.top - 3, 0)}, gray}};
        for (const auto &[at, colour] : seen)
            EXPECT_TRUE(near(frame, at, colour, 24));
    }
}

} // namespace
