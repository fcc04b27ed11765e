#include "Poster.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

#include <memory>

namespace {

constexpr int kMaxWidth = 1280;
constexpr double kAtSeconds = 1.0;
constexpr int kMaxPackets = 5000; // a damaged file never keeps the server decoding

struct FormatCloser {
    void operator()(AVFormatContext *f) const { avformat_close_input(&f); }
};
struct CodecFreer {
    void operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
};
struct FrameFreer {
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
struct PacketFreer {
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};
struct ScaleFreer {
    void operator()(SwsContext *s) const { sws_freeContext(s); }
};
using Frame = std::unique_ptr<AVFrame, FrameFreer>;

// Decodes from the key frame before the target up to the first frame at or
// after it; the last decoded frame when the video ends first.
Frame frameAt(AVFormatContext *format, int stream, AVCodecContext *decoder)
{
    const AVStream *st = format->streams[stream];
    const std::int64_t start = st->start_time == AV_NOPTS_VALUE ? 0 : st->start_time;
    const std::int64_t target =
        start + av_rescale_q(std::int64_t(kAtSeconds * AV_TIME_BASE), AV_TIME_BASE_Q, st->time_base);
    av_seek_frame(format, stream, target, AVSEEK_FLAG_BACKWARD); // from the start if it cannot seek
    std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
    Frame frame(av_frame_alloc());
    Frame best;
    bool draining = false;
    for (int packets = 0; packets < kMaxPackets; ++packets) {
        if (!draining) {
            if (av_read_frame(format, packet.get()) < 0) {
                draining = true;
                avcodec_send_packet(decoder, nullptr);
            } else {
                if (packet->stream_index == stream)
                    avcodec_send_packet(decoder, packet.get());
                av_packet_unref(packet.get());
            }
        }
        for (;;) {
            const int r = avcodec_receive_frame(decoder, frame.get());
            if (r == AVERROR(EAGAIN) && !draining)
                break;
            if (r < 0)
                return best;
            best.reset(av_frame_clone(frame.get()));
            av_frame_unref(frame.get());
            if (best && best->best_effort_timestamp != AV_NOPTS_VALUE && best->best_effort_timestamp >= target)
                return best;
        }
    }
    return best;
}

std::optional<std::string> encodeJpeg(const AVFrame &picture)
{
    int width = picture.width;
    int height = picture.height;
    if (width > kMaxWidth) {
        height = int(std::int64_t(height) * kMaxWidth / width);
        width = kMaxWidth;
    }
    width &= ~1;
    height &= ~1;
    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    if (!codec || width < 2 || height < 2)
        return std::nullopt;
    std::unique_ptr<AVCodecContext, CodecFreer> encoder(avcodec_alloc_context3(codec));
    encoder->width = width;
    encoder->height = height;
    encoder->pix_fmt = AV_PIX_FMT_YUVJ420P;
    encoder->time_base = AVRational{1, 25};
    encoder->flags |= AV_CODEC_FLAG_QSCALE;
    encoder->global_quality = FF_QP2LAMBDA * 3;
    if (avcodec_open2(encoder.get(), codec, nullptr) < 0)
        return std::nullopt;

    Frame scaled(av_frame_alloc());
    scaled->width = width;
    scaled->height = height;
    scaled->format = AV_PIX_FMT_YUVJ420P;
    if (av_frame_get_buffer(scaled.get(), 0) < 0)
        return std::nullopt;
    std::unique_ptr<SwsContext, ScaleFreer> scale(
        sws_getContext(picture.width, picture.height, AVPixelFormat(picture.format), width, height, AV_PIX_FMT_YUVJ420P,
                       SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!scale)
        return std::nullopt;
    sws_scale(scale.get(), picture.data, picture.linesize, 0, picture.height, scaled->data, scaled->linesize);
    scaled->quality = encoder->global_quality;
    scaled->pts = 0;

    std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
    if (avcodec_send_frame(encoder.get(), scaled.get()) < 0 || avcodec_send_frame(encoder.get(), nullptr) < 0 ||
        avcodec_receive_packet(encoder.get(), packet.get()) < 0)
        return std::nullopt;
    return std::string(reinterpret_cast<const char *>(packet->data), std::size_t(packet->size));
}

} // namespace

std::optional<std::string> makePoster(const std::filesystem::path &mp4)
{
    av_log_set_level(AV_LOG_FATAL); // a bad upload is the uploader's problem, not the server log's
    AVFormatContext *raw = nullptr;
    if (avformat_open_input(&raw, mp4.c_str(), nullptr, nullptr) < 0)
        return std::nullopt;
    std::unique_ptr<AVFormatContext, FormatCloser> format(raw);
    if (avformat_find_stream_info(format.get(), nullptr) < 0)
        return std::nullopt;
    const AVCodec *codec = nullptr;
    const int stream = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (stream < 0 || !codec)
        return std::nullopt;
    std::unique_ptr<AVCodecContext, CodecFreer> decoder(avcodec_alloc_context3(codec));
    if (avcodec_parameters_to_context(decoder.get(), format->streams[stream]->codecpar) < 0 ||
        avcodec_open2(decoder.get(), codec, nullptr) < 0)
        return std::nullopt;
    const Frame picture = frameAt(format.get(), stream, decoder.get());
    if (!picture)
        return std::nullopt;
    return encodeJpeg(*picture);
}
