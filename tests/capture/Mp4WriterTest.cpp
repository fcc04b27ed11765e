#include "capture/Mp4Writer.h"
#include "FfprobeReport.h"
#include "capture/Recorder.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

// Writes `seconds` of pictures, one every frameUs (a dark grey with a white
// bar moving across), and with `channels` a 440 Hz tone in 10 ms chunks, as
// capture would.
QString writeClip(const QTemporaryDir &dir, PixelSize size, double seconds, int channels, int64_t frameUs = 33333)
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
    for (int64_t t = 0; t < endUs; t += frameUs) {
        AVFrame *picture = writer.pictureToFill();
        for (int y = 0; y < picture->height; ++y) {
            uint8_t *row = picture->data[0] + std::ptrdiff_t(y) * picture->linesize[0];
            std::memset(row, 40, picture->width);
            std::memset(row + int(t / 10000) % (size.width - 16), 235, 16);
        }
        for (int plane : {1, 2})
            std::memset(picture->data[plane], 128, std::size_t(picture->linesize[plane]) * picture->height / 2);
        writer.writeVideo(t);
        for (; channels > 0 && nextAudioUs < t + frameUs && nextAudioUs < endUs; nextAudioUs += 10000) {
            std::vector<float> chunk(std::size_t(480) * channels);
            for (std::size_t i = 0; i < chunk.size(); ++i)
                chunk[i] = 0.3f * std::sin(2 * M_PI * 440.0 * double(nextAudioUs * 48 / 1000 + i / channels) / 48000);
            writer.writeAudio(chunk.data(), 480, nextAudioUs);
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
    EXPECT_EQ(streamFields(report.video, "codec_name profile width height color_space color_primaries "
                                         "color_transfer color_range"),
              "h264 High 640 360 bt709 bt709 bt709 tv");
    EXPECT_EQ(streamFields(report.audio, "codec_name channels sample_rate"), "aac 2 48000");
    EXPECT_NEAR(report.durationSeconds(), 4.0, 0.1);
    EXPECT_NEAR(report.videoDurationSeconds(), report.audioDurationSeconds(), 0.05);

    // The index at the front, then fragments.
    const QList<Mp4Box> boxes = topLevelBoxes(path);
    const QString types = boxTypes(boxes).join(' ');
    ASSERT_TRUE(types.startsWith("ftyp moov moof mdat moof mdat moof mdat moof mdat")) << types.toStdString();
    // What a process killed mid-write leaves: the fourth fragment half
    // written. (A fragment's header goes out in one write with the start of
    // its data.)
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite) && file.resize(boxes[9].offset + boxes[9].size / 2));
    file.close();
    const double playable = decodableVideoSeconds(path);
    EXPECT_TRUE(playable > 2.0 && playable < 4.0) << playable;
}

TEST(Mp4Writer, MonoSoundGetsTheMonoBitRate)
{
    QTemporaryDir dir;
    const FfprobeReport report = ffprobe(writeClip(dir, PixelSize{320, 180}, 2.0, 1));
    ASSERT_EQ(streamFields(report.audio, "channels"), "1");
    const double bitRate = report.audio.value("bit_rate").toString().toDouble();
    EXPECT_TRUE(bitRate > 60000 && bitRate < 120000) << bitRate;
}

TEST(Mp4Writer, ForcesAKeyframeEveryTwoSecondsOfTimeEvenWhenFramesAreSparse)
{
    QTemporaryDir dir;
    // A quiet screen: one picture every half second for 7 s.
    const QString path = writeClip(dir, PixelSize{160, 90}, 7.0, 0, 500'000);
    QList<double> keyTimes;
    for (const QByteArray &line : ffprobeLines("-select_streams v:0 -show_entries packet=pts_time,flags", path)) {
        const QList<QByteArray> f = line.split(',');
        if (f.size() >= 2 && f[1].startsWith('K'))
            keyTimes << f[0].toDouble();
    }
    ASSERT_GE(keyTimes.size(), 4);
    for (int i = 1; i < keyTimes.size(); ++i)
        EXPECT_LE(keyTimes[i] - keyTimes[i - 1], 2.01);
}

} // namespace
