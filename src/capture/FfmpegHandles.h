#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/error.h>
}

#include <QString>

#include <memory>

// Owners of the FFmpeg handles a writer or probe holds.
struct AvCodecContextFree {
    void operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
};
struct AvFrameFree {
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
struct AvPacketFree {
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};
struct AvAudioFifoFree {
    void operator()(AVAudioFifo *f) const { av_audio_fifo_free(f); }
};
// An input context opened with avformat_open_input.
struct AvInputClose {
    void operator()(AVFormatContext *c) const { avformat_close_input(&c); }
};
// An output context: closes its file, then frees it.
struct AvOutputFree {
    void operator()(AVFormatContext *c) const
    {
        if (c->pb && !(c->oformat->flags & AVFMT_NOFILE))
            avio_closep(&c->pb);
        avformat_free_context(c);
    }
};
struct AvDictionaryFree {
    void operator()(AVDictionary *d) const { av_dict_free(&d); }
};

using AvCodecContextPtr = std::unique_ptr<AVCodecContext, AvCodecContextFree>;
using AvFramePtr = std::unique_ptr<AVFrame, AvFrameFree>;
using AvPacketPtr = std::unique_ptr<AVPacket, AvPacketFree>;
using AvAudioFifoPtr = std::unique_ptr<AVAudioFifo, AvAudioFifoFree>;
using AvInputPtr = std::unique_ptr<AVFormatContext, AvInputClose>;
using AvOutputPtr = std::unique_ptr<AVFormatContext, AvOutputFree>;

// Sets options into a dictionary that frees itself.
class AvOptions {
public:
    AvOptions() = default;
    ~AvOptions() { av_dict_free(&m_dict); }
    AvOptions(const AvOptions &) = delete;
    AvOptions &operator=(const AvOptions &) = delete;
    void set(const char *key, const char *value) { av_dict_set(&m_dict, key, value, 0); }
    void set(const char *key, int64_t value) { av_dict_set_int(&m_dict, key, value, 0); }
    AVDictionary **get() { return &m_dict; }

private:
    AVDictionary *m_dict = nullptr;
};

inline QString avErrorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}
