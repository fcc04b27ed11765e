#include "platform/media/FfmpegFrameGrabber.h"

#include "capture/FfmpegHandles.h"

#include <QFile>
#include <QTransform>

#include <cmath>

extern "C" {
#include <libavutil/display.h>
#include <libswscale/swscale.h>
}

namespace {

struct SwsFree {
    void operator()(SwsContext *c) const { sws_freeContext(c); }
};

// Only plain files and the web: an id or a link must never make FFmpeg open
// a device, a pipe or a playlist that points elsewhere.
constexpr const char *kProtocols = "file,http,https,tcp,tls";
// A server that stops answering must not hold a thumbnail thread for ever.
constexpr int64_t kNetworkTimeoutUs = 15'000'000;

// Clockwise degrees that turn the stored picture upright (0, 90, 180, 270).
int uprightRotation(const AVStream *stream)
{
    size_t size = 0;
    const uint8_t *matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (!matrix || size < 9 * sizeof(int32_t))
        return 0;
    // The matrix turns counter-clockwise; a picture is shown turned the other way.
    const double counterClockwise = av_display_rotation_get(reinterpret_cast<const int32_t *>(matrix));
    if (std::isnan(counterClockwise))
        return 0;
    const int degrees = int(std::lround(-counterClockwise / 90.0)) * 90;
    return ((degrees % 360) + 360) % 360;
}

// The picture's size on screen: square pixels, before rotation.
QSize displaySize(const AVFrame *frame)
{
    QSize size(frame->width, frame->height);
    const AVRational sar = frame->sample_aspect_ratio;
    if (sar.num > 0 && sar.den > 0 && sar.num != sar.den)
        size.setWidth(int(std::lround(double(frame->width) * sar.num / sar.den)));
    return size;
}

QImage toImage(const AVFrame *frame, int rotation, QSize fit)
{
    QSize shown = displaySize(frame);
    const bool sideways = rotation == 90 || rotation == 270;
    if (sideways)
        shown.transpose();
    if (shown.width() > fit.width() || shown.height() > fit.height())
        shown = shown.scaled(fit, Qt::KeepAspectRatio);
    QSize scaled = shown.expandedTo(QSize(1, 1));
    if (sideways)
        scaled.transpose();

    const std::unique_ptr<SwsContext, SwsFree> sws(
        sws_getContext(frame->width, frame->height, AVPixelFormat(frame->format), scaled.width(), scaled.height(),
                       AV_PIX_FMT_RGB32, SWS_AREA, nullptr, nullptr, nullptr));
    if (!sws)
        return {};
    const int colorspace = frame->colorspace != AVCOL_SPC_UNSPECIFIED ? frame->colorspace
                           : frame->height >= 720                     ? AVCOL_SPC_BT709
                                                                      : AVCOL_SPC_SMPTE170M;
    const int *coefficients = sws_getCoefficients(colorspace);
    sws_setColorspaceDetails(sws.get(), coefficients, frame->color_range == AVCOL_RANGE_JPEG, coefficients, 1, 0,
                             1 << 16, 1 << 16);
    QImage image(scaled, QImage::Format_RGB32);
    uint8_t *planes[4] = {image.bits(), nullptr, nullptr, nullptr};
    const int strides[4] = {int(image.bytesPerLine()), 0, 0, 0};
    if (sws_scale(sws.get(), frame->data, frame->linesize, 0, frame->height, planes, strides) <= 0)
        return {};
    if (rotation != 0)
        image = image.transformed(QTransform().rotate(rotation));
    return image;
}

// Decodes from the start until the frame at the wanted time; keeps the last
// frame inside the window. Returns null when the window holds no frame.
AvFramePtr decodeWindowFrame(AVFormatContext *input, int videoIndex, AVCodecContext *decoder, const FrameWindow &window)
{
    const AVStream *stream = input->streams[videoIndex];
    const int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    const double tick = av_q2d(stream->time_base);
    AvFramePtr kept;
    AvFramePtr frame(av_frame_alloc());
    AvPacketPtr packet(av_packet_alloc());
    if (!frame || !packet)
        return nullptr;

    // Takes every frame the decoder has ready; true once the wanted one is in.
    auto drain = [&]() {
        while (avcodec_receive_frame(decoder, frame.get()) == 0) {
            const int64_t pts = frame->best_effort_timestamp;
            const double seconds = pts == AV_NOPTS_VALUE ? 0.0 : double(pts - start) * tick;
            if (seconds > window.latestSeconds + 1e-6)
                return true;
            kept.reset(av_frame_clone(frame.get()));
            av_frame_unref(frame.get());
            if (seconds + 1e-3 >= window.atSeconds)
                return true;
        }
        return false;
    };

    while (av_read_frame(input, packet.get()) >= 0) {
        const bool ours = packet->stream_index == videoIndex;
        if (ours)
            avcodec_send_packet(decoder, packet.get());
        av_packet_unref(packet.get());
        if (ours && drain())
            return kept;
    }
    avcodec_send_packet(decoder, nullptr); // the end: let the decoder give up what it holds
    drain();
    return kept;
}

} // namespace

QImage FfmpegFrameGrabber::grab(const QUrl &source, const FrameWindow &window)
{
    const QByteArray location = source.isLocalFile() ? QFile::encodeName(source.toLocalFile()) : source.toEncoded();
    AvOptions options;
    options.set("protocol_whitelist", kProtocols);
    // Read from the front only: without this, a fragmented recording's
    // fragments are all visited for an index we do not need, one range
    // request each.
    options.set("fflags", "+ignidx");
    if (!source.isLocalFile())
        options.set("rw_timeout", kNetworkTimeoutUs);
    AVFormatContext *raw = nullptr;
    if (avformat_open_input(&raw, location.constData(), nullptr, options.get()) < 0)
        return {};
    const AvInputPtr input(raw);

    int videoIndex = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    // MP4 and most containers say all a decoder needs in their header;
    // probing packets is only for the others, as it reads ahead.
    if (videoIndex < 0 || input->streams[videoIndex]->codecpar->width <= 0) {
        if (avformat_find_stream_info(input.get(), nullptr) < 0)
            return {};
        videoIndex = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    }
    if (videoIndex < 0)
        return {};
    for (unsigned i = 0; i < input->nb_streams; ++i)
        if (int(i) != videoIndex)
            input->streams[i]->discard = AVDISCARD_ALL;
    AVStream *stream = input->streams[videoIndex];

    const AVCodec *codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec)
        return {};
    AvCodecContextPtr decoder(avcodec_alloc_context3(codec));
    if (!decoder || avcodec_parameters_to_context(decoder.get(), stream->codecpar) < 0)
        return {};
    decoder->pkt_timebase = stream->time_base;
    decoder->thread_count = 0; // as many as the machine has
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0)
        return {};

    const AvFramePtr frame = decodeWindowFrame(input.get(), videoIndex, decoder.get(), window);
    if (!frame)
        return {};
    return toImage(frame.get(), uprightRotation(stream), window.fit);
}
