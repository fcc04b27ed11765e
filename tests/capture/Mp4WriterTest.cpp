#include "capture/Mp4Writer.h"
#include "Await.h"
#include "FfprobeReport.h"
#include "capture/Recorder.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

// Fills the writer's picture with a dark grey and a white bar at barX.
void paint(Mp4Writer &writer, int barX)
{
    AVFrame *picture = writer.pictureToFill();
    for (int y = 0; y < picture->height; ++y) {
        uint8_t *row = picture->data[0] + std::ptrdiff_t(y) * picture->linesize[0];
        std::memset(row, 40, picture->width);
        std::memset(row + barX, 235, 16);
    }
    for (int plane : {1, 2})
        std::memset(picture->data[plane], 128, std::size_t(picture->linesize[plane]) * picture->height / 2);
}

std::vector<float> tone(int frames, int channels, int rate, int64_t firstSample)
{
    std::vector<float> samples(size_t(frames) * channels);
    for (int i = 0; i < frames; ++i)
        for (int ch = 0; ch < channels; ++ch)
            samples[size_t(i) * channels + ch] = 0.3f * std::sin(2 * M_PI * 440.0 * double(firstSample + i) / rate);
    return samples;
}

// Writes `seconds` of 30 fps pictures and 10 ms sound chunks, as capture would.
QString writeClip(const QTemporaryDir &dir, PixelSize size, double seconds, int channels)
{
    Mp4Settings settings;
    settings.path = dir.filePath(QStringLiteral("clip.mp4"));
    settings.size = size;
    settings.preset = QStringLiteral("ultrafast");
    settings.audioSampleRate = channels > 0 ? 48000 : 0;
    settings.audioChannels = channels;
    Mp4Writer writer(settings);
    const int64_t endUs = int64_t(seconds * 1e6);
    int64_t nextAudioUs = 0;
    for (int64_t t = 0; t < endUs; t += 33333) {
        paint(writer, int(t / 10000) % (size.width - 16));
        writer.writeVideo(t);
        while (channels > 0 && nextAudioUs < t + 33333 && nextAudioUs < endUs) {
            const int64_t first = nextAudioUs * 48 / 1000;
            const std::vector<float> chunk = tone(480, channels, 48000, first);
            writer.writeAudio(chunk.data(), 480, nextAudioUs);
            nextAudioUs += 10000;
        }
    }
    writer.finish(endUs);
    return settings.path;
}

TEST(Mp4Writer, WritesFragmentedHighProfileH264AndAacThatPlaysWhenCutShort)
{
    QTemporaryDir dir;
    const QString path = writeClip(dir, PixelSize{640, 360}, 4.0, 2);
    const FfprobeReport report = ffprobe(path);
    ASSERT_TRUE(report.ok);
    const std::pair<const char *, const char *> video[] = {{"codec_name", "h264"},      {"profile", "High"},
                                                           {"color_space", "bt709"},    {"color_primaries", "bt709"},
                                                           {"color_transfer", "bt709"}, {"color_range", "tv"}};
    for (const auto &[key, value] : video)
        EXPECT_EQ(report.video.value(QLatin1String(key)).toString().toStdString(), value) << key;
    EXPECT_EQ(report.video.value("width").toInt(), 640);
    EXPECT_EQ(report.video.value("height").toInt(), 360);
    EXPECT_EQ(report.audio.value("codec_name").toString().toStdString(), "aac");
    EXPECT_EQ(report.audio.value("channels").toInt(), 2);
    EXPECT_EQ(report.audio.value("sample_rate").toString().toStdString(), "48000");
    EXPECT_NEAR(report.durationSeconds(), 4.0, 0.1);
    EXPECT_NEAR(report.videoDurationSeconds(), report.audioDurationSeconds(), 0.05);

    // The index at the front, then fragments.
    const QList<Mp4Box> boxes = topLevelBoxes(path);
    const QStringList types = boxTypes(boxes);
    ASSERT_GE(types.size(), 4);
    EXPECT_EQ(types[0], "ftyp");
    EXPECT_EQ(types[1], "moov");
    QList<Mp4Box> media;
    for (const Mp4Box &box : boxes)
        if (box.type == "mdat")
            media << box;
    ASSERT_GE(media.size(), 4) << types.join(' ').toStdString();
    // What a process killed mid-write leaves: a fragment half written. (A
    // fragment's header goes out in one write with the start of its data.)
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.resize(media[3].offset + media[3].size / 2));
    file.close();
    const double playable = decodableVideoSeconds(path);
    EXPECT_GT(playable, 2.0);
    EXPECT_LT(playable, 4.0);
}

TEST(Mp4Writer, MonoSoundGetsTheMonoBitRate)
{
    QTemporaryDir dir;
    const FfprobeReport report = ffprobe(writeClip(dir, PixelSize{320, 180}, 2.0, 1));
    ASSERT_TRUE(report.ok);
    EXPECT_EQ(report.audio.value("channels").toInt(), 1);
    const double bitRate = report.audio.value("bit_rate").toString().toDouble();
    EXPECT_GT(bitRate, 60000);
    EXPECT_LT(bitRate, 120000);
}

TEST(Mp4Writer, ForcesAKeyframeEveryTwoSecondsOfTimeEvenWhenFramesAreSparse)
{
    QTemporaryDir dir;
    Mp4Settings settings;
    settings.path = dir.filePath(QStringLiteral("sparse.mp4"));
    settings.size = PixelSize{160, 90};
    settings.preset = QStringLiteral("ultrafast");
    {
        Mp4Writer writer(settings);
        // A quiet screen: one picture every half second for 7 s.
        for (int i = 0; i < 14; ++i) {
            paint(writer, i * 8);
            writer.writeVideo(i * 500'000);
        }
        writer.finish(7'000'000);
    }
    QProcess probe;
    probe.start("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries", "packet=pts_time,flags", "-of",
                            "csv=p=0", settings.path});
    ASSERT_TRUE(probe.waitForFinished(30000));
    QList<double> keyTimes;
    for (const QByteArray &line : probe.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> f = line.split(',');
        if (f.size() >= 2 && f[1].startsWith('K'))
            keyTimes << f[0].toDouble();
    }
    ASSERT_GE(keyTimes.size(), 4);
    for (int i = 1; i < keyTimes.size(); ++i)
        EXPECT_LE(keyTimes[i] - keyTimes[i - 1], 2.01);
}

TEST(Mp4Writer, AFileThatCannotBeCreatedIsARecorderError)
{
    Mp4Settings settings;
    settings.path = QStringLiteral("/nonexistent-folder/x.mp4");
    settings.size = PixelSize{160, 90};
    const QString said = failureText([&] { Mp4Writer writer(settings); });
    EXPECT_TRUE(said.startsWith("The recording could not be written to /nonexistent-folder/x.mp4"))
        << said.toStdString();
    EXPECT_TRUE(said.endsWith('.'));
}

} // namespace
