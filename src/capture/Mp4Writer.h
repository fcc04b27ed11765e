#pragma once

#include "capture/FfmpegHandles.h"
#include "capture/VideoSize.h"

#include <QString>

#include <cstdint>
#include <vector>

struct Mp4Settings {
    QString path;
    PixelSize size;
    QString preset = QStringLiteral("veryfast"); // x264 preset
    int audioSampleRate = 0;                     // 0: no sound track
    int audioChannels = 0;                       // 1 or 2
    int64_t fragmentDurationUs = 1'000'000;      // longest stretch a kill can lose from the file
};

// Writes H.264 High (BT.709) and AAC into a fragmented MP4 whose index sits at
// the front: every fragment is complete on disk once written, so a recording
// whose process dies keeps all but its last fragment, and closing the file
// needs no rewrite pass. Not thread-safe; one thread drives it.
class Mp4Writer {
public:
    // Throws RecorderError when the file or an encoder cannot be opened.
    explicit Mp4Writer(const Mp4Settings &settings);
    ~Mp4Writer();
    Mp4Writer(const Mp4Writer &) = delete;
    Mp4Writer &operator=(const Mp4Writer &) = delete;

    // The picture to fill before writeVideo: I420 at the output size.
    AVFrame *pictureToFill();
    // Encodes the picture shown from ptsUs (microseconds after the start).
    // A time not after the previous picture's is skipped.
    void writeVideo(int64_t ptsUs);
    // Encodes the last picture again at ptsUs; no-op before the first one.
    void repeatVideo(int64_t ptsUs);
    // Writes out what the muxer holds as a complete fragment, so it is on
    // disk now rather than when the next fragment is due.
    void flushFragment();
    // Interleaved samples whose first one was heard at ptsUs. Sound is kept
    // gapless: a gap is filled with silence, an overlap trimmed.
    void writeAudio(const float *interleaved, int frameCount, int64_t ptsUs);
    // Ends both tracks at endUs, flushes the encoders and closes the file.
    void finish(int64_t endUs);

    bool hasAudio() const { return m_audio != nullptr; }
    int64_t videoFramesWritten() const { return m_videoFramesWritten; }
    int64_t lastVideoPtsUs() const { return m_lastVideoPtsUs; }
    int64_t audioSamplesWritten() const { return m_audioSamplesQueued; }

private:
    void openVideo(const Mp4Settings &settings);
    void openAudio(const Mp4Settings &settings);
    void sendVideo(int64_t ptsUs);
    void appendAudio(const float *interleaved, int frameCount);
    void appendSilence(int64_t frameCount);
    void encodeAudio(bool flushAll);
    void drain(AVCodecContext *codec, AVStream *stream, int64_t packetDuration);
    [[noreturn]] void fail(const QString &what, int code) const;

    QString m_path;
    AvOutputPtr m_format;
    AvCodecContextPtr m_video;
    AvCodecContextPtr m_audio;
    AVStream *m_videoStream = nullptr;
    AVStream *m_audioStream = nullptr;
    AvFramePtr m_picture;
    AvFramePtr m_audioFrame;
    AvAudioFifoPtr m_fifo;
    AvPacketPtr m_packet;
    std::vector<std::vector<float>> m_planes;
    bool m_headerWritten = false;
    bool m_finished = false;
    int64_t m_videoFramesWritten = 0;
    int64_t m_lastVideoPtsUs = -1;
    int64_t m_lastKeyPtsUs = -1;
    int64_t m_audioSamplesQueued = 0;  // samples given to the FIFO, silence included
    int64_t m_audioSamplesEncoded = 0; // samples sent to the encoder
};

// The x264 options every recording uses, beside the preset and bit rate.
extern const char *const kX264RecordingParams;
