#include "capture/EncoderPreset.h"

#include "base/Diag.h"
#include "capture/FfmpegHandles.h"
#include "capture/Mp4Writer.h"

#include <QHash>

#include <chrono>
#include <mutex>

namespace {
// Capture, conversion and the desktop itself need the rest.
constexpr double kHeadroom = 1.5;
constexpr int kTrialFrames = 24;
const char *const kPresets[] = {"veryfast", "superfast", "ultrafast"};

// A picture that changes everywhere each frame, like scrolling or video.
void paintTrialPicture(AVFrame *frame, int index)
{
    for (int y = 0; y < frame->height; ++y) {
        uint8_t *row = frame->data[0] + std::ptrdiff_t(y) * frame->linesize[0];
        for (int x = 0; x < frame->width; ++x)
            row[x] = uint8_t((x + y * 3 + index * 7) ^ ((x * y + index * 131) >> 5));
    }
    for (int plane = 1; plane < 3; ++plane) {
        for (int y = 0; y < frame->height / 2; ++y) {
            uint8_t *row = frame->data[plane] + std::ptrdiff_t(y) * frame->linesize[plane];
            for (int x = 0; x < frame->width / 2; ++x)
                row[x] = uint8_t(128 + ((x + index * plane) & 31));
        }
    }
}
} // namespace

double measureEncoderSpeed(PixelSize size, const QString &preset)
{
    av_log_set_level(AV_LOG_ERROR); // x264 reports every trial encoder otherwise
    const AVCodec *codec = avcodec_find_encoder_by_name("libx264");
    if (!codec || size.width <= 0 || size.height <= 0)
        return 0;
    AvCodecContextPtr context(avcodec_alloc_context3(codec));
    context->width = size.width;
    context->height = size.height;
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->time_base = AVRational{1, 30};
    context->bit_rate = videoBitRateFor(size);
    context->max_b_frames = 0;
    AvOptions options;
    options.set("preset", preset.toUtf8().constData());
    options.set("x264-params", kX264RecordingParams);
    if (avcodec_open2(context.get(), codec, options.get()) < 0)
        return 0;
    AvFramePtr frame(av_frame_alloc());
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = size.width;
    frame->height = size.height;
    if (av_frame_get_buffer(frame.get(), 0) < 0)
        return 0;
    AvPacketPtr packet(av_packet_alloc());
    std::vector<AvFramePtr> pictures;
    for (int i = 0; i < 4; ++i) {
        pictures.emplace_back(av_frame_clone(frame.get()));
        av_frame_make_writable(pictures.back().get());
        paintTrialPicture(pictures.back().get(), i);
    }
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i <= kTrialFrames; ++i) {
        AVFrame *picture = i < kTrialFrames ? pictures[i % pictures.size()].get() : nullptr;
        if (picture)
            picture->pts = i;
        if (avcodec_send_frame(context.get(), picture) < 0)
            return 0;
        while (avcodec_receive_packet(context.get(), packet.get()) >= 0)
            av_packet_unref(packet.get());
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return seconds > 0 ? kTrialFrames / seconds : 0;
}

QString pickPreset(const std::function<double(const QString &)> &picturesPerSecond, QStringList *measured)
{
    for (const char *name : kPresets) {
        const QString candidate = QString::fromLatin1(name);
        const double fps = picturesPerSecond(candidate);
        if (measured)
            *measured << QStringLiteral("%1 %2 fps").arg(candidate).arg(fps, 0, 'f', 0);
        if (fps >= 30.0 * kHeadroom)
            return candidate;
    }
    return QString::fromLatin1(kPresets[std::size(kPresets) - 1]);
}

QString choosePresetFor(PixelSize size)
{
    static std::mutex mutex;
    static QHash<quint64, QString> chosen;
    const quint64 key = (quint64(quint32(size.width)) << 32) | quint32(size.height);
    std::lock_guard lock(mutex);
    if (auto it = chosen.constFind(key); it != chosen.constEnd())
        return *it;
    QStringList measured;
    const QString preset =
        pickPreset([size](const QString &candidate) { return measureEncoderSpeed(size, candidate); }, &measured);
    Diag::log(QStringLiteral("recording encoder preset %1 for %2x%3 (%4)")
                  .arg(preset)
                  .arg(size.width)
                  .arg(size.height)
                  .arg(measured.join(QStringLiteral(", "))));
    chosen.insert(key, preset);
    return preset;
}
