#include "capture/Mp4Writer.h"

#include "capture/Recorder.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <QFile>

#include <algorithm>

namespace {
constexpr AVRational kVideoTimeBase{1, 90000};
// The fastest presets turn off the 8x8 transform, which would make the stream
// Constrained Baseline; High is what players are promised. Without lookahead
// the encoder holds back 3 pictures instead of up to 15, so on a quiet screen,
// where a picture is repeated only a few times a second, the file on disk
// still trails the present by about a second rather than several.
constexpr const char *kX264Params = "8x8dct=1:rc-lookahead=0:sync-lookahead=0";
} // namespace

const char *const kX264RecordingParams = kX264Params;

namespace {
constexpr int64_t kVideoFrameUs = 1000000 / 30;
constexpr int64_t kKeyframeIntervalUs = 2'000'000;
// Sound that drifts from the clock by more than this is re-aligned.
constexpr int64_t kAudioSlackUs = 40'000;

int64_t toVideoTicks(int64_t us)
{
    return av_rescale(us, kVideoTimeBase.den, 1000000);
}
} // namespace

Mp4Writer::Mp4Writer(const Mp4Settings &settings) : m_path(settings.path)
{
    // FFmpeg's own chatter would go to stderr; our errors are thrown.
    av_log_set_level(AV_LOG_ERROR);
    AVFormatContext *format = nullptr;
    const QByteArray path = QFile::encodeName(settings.path);
    int err = avformat_alloc_output_context2(&format, nullptr, "mp4", path.constData());
    if (err < 0 || !format)
        fail(QStringLiteral("the MP4 muxer is missing"), err);
    m_format.reset(format);
    m_packet.reset(av_packet_alloc());

    openVideo(settings);
    if (settings.audioSampleRate > 0 && settings.audioChannels > 0)
        openAudio(settings);

    err = avio_open(&m_format->pb, path.constData(), AVIO_FLAG_WRITE);
    if (err < 0)
        fail(QStringLiteral("the file cannot be opened for writing"), err);
    // Each packet goes to the kernel as soon as the muxer lets it go, so a
    // killed process leaves every finished fragment in the file.
    m_format->flags |= AVFMT_FLAG_FLUSH_PACKETS;
    m_format->max_interleave_delta = 500'000;
    AvOptions options;
    options.set("movflags", "+frag_keyframe+empty_moov+default_base_moof");
    options.set("frag_duration", settings.fragmentDurationUs);
    err = avformat_write_header(m_format.get(), options.get());
    if (err < 0)
        fail(QStringLiteral("the file header cannot be written"), err);
    m_headerWritten = true;
}

Mp4Writer::~Mp4Writer() = default;

void Mp4Writer::openVideo(const Mp4Settings &settings)
{
    const AVCodec *codec = avcodec_find_encoder_by_name("libx264");
    if (!codec)
        fail(QStringLiteral("the H.264 encoder (libx264) is not available"), 0);
    m_video.reset(avcodec_alloc_context3(codec));
    AVCodecContext *c = m_video.get();
    c->width = settings.size.width;
    c->height = settings.size.height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = kVideoTimeBase;
    c->framerate = AVRational{30, 1};
    c->bit_rate = videoBitRateFor(settings.size);
    // Key frames come every 2 s of time (forced in sendVideo); frames come
    // irregularly, so a count would stretch the interval on a quiet screen.
    c->gop_size = 600;
    // No reordering: decode order equals presentation order, which keeps
    // fragments free of composition offsets and the encoder's delay short.
    c->max_b_frames = 0;
    c->color_primaries = AVCOL_PRI_BT709;
    c->color_trc = AVCOL_TRC_BT709;
    c->colorspace = AVCOL_SPC_BT709;
    c->color_range = AVCOL_RANGE_MPEG;
    if (m_format->oformat->flags & AVFMT_GLOBALHEADER)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AvOptions options;
    options.set("preset", settings.preset.toUtf8().constData());
    options.set("profile", "high");
    options.set("forced-idr", "1");
    options.set("x264-params", kX264Params);
    int err = avcodec_open2(c, codec, options.get());
    if (err < 0)
        fail(QStringLiteral("the H.264 encoder cannot be opened"), err);
    m_videoStream = avformat_new_stream(m_format.get(), nullptr);
    avcodec_parameters_from_context(m_videoStream->codecpar, c);
    m_videoStream->time_base = c->time_base;

    m_picture.reset(av_frame_alloc());
    m_picture->format = c->pix_fmt;
    m_picture->width = c->width;
    m_picture->height = c->height;
    m_picture->color_primaries = c->color_primaries;
    m_picture->color_trc = c->color_trc;
    m_picture->colorspace = c->colorspace;
    m_picture->color_range = c->color_range;
    err = av_frame_get_buffer(m_picture.get(), 0);
    if (err < 0)
        fail(QStringLiteral("there is not enough memory for a picture"), err);
}

void Mp4Writer::openAudio(const Mp4Settings &settings)
{
    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!codec)
        fail(QStringLiteral("the AAC encoder is not available"), 0);
    const int channels = settings.audioChannels > 1 ? 2 : 1;
    m_audio.reset(avcodec_alloc_context3(codec));
    AVCodecContext *c = m_audio.get();
    c->sample_fmt = AV_SAMPLE_FMT_FLTP;
    c->sample_rate = settings.audioSampleRate;
    av_channel_layout_default(&c->ch_layout, channels);
    c->bit_rate = channels == 2 ? 160000 : 96000;
    c->time_base = AVRational{1, settings.audioSampleRate};
    if (m_format->oformat->flags & AVFMT_GLOBALHEADER)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int err = avcodec_open2(c, codec, nullptr);
    if (err < 0)
        fail(QStringLiteral("the AAC encoder cannot be opened"), err);
    m_audioStream = avformat_new_stream(m_format.get(), nullptr);
    avcodec_parameters_from_context(m_audioStream->codecpar, c);
    m_audioStream->time_base = c->time_base;
    m_fifo.reset(av_audio_fifo_alloc(c->sample_fmt, channels, c->frame_size * 4));
    m_planes.resize(channels);
}

AVFrame *Mp4Writer::pictureToFill()
{
    // The encoder may still hold the previous picture.
    const int err = av_frame_make_writable(m_picture.get());
    if (err < 0)
        fail(QStringLiteral("there is not enough memory for a picture"), err);
    return m_picture.get();
}

void Mp4Writer::writeVideo(int64_t ptsUs)
{
    if (m_lastVideoPtsUs >= 0 && toVideoTicks(ptsUs) <= toVideoTicks(m_lastVideoPtsUs))
        return;
    sendVideo(ptsUs);
}

void Mp4Writer::repeatVideo(int64_t ptsUs)
{
    if (m_videoFramesWritten == 0)
        return;
    writeVideo(ptsUs);
}

void Mp4Writer::sendVideo(int64_t ptsUs)
{
    AVFrame *picture = m_picture.get();
    picture->pts = toVideoTicks(ptsUs);
    const bool key = m_lastKeyPtsUs < 0 || ptsUs - m_lastKeyPtsUs >= kKeyframeIntervalUs;
    picture->pict_type = key ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    if (key)
        m_lastKeyPtsUs = ptsUs;
    const int err = avcodec_send_frame(m_video.get(), picture);
    if (err < 0)
        fail(QStringLiteral("a picture cannot be encoded"), err);
    m_lastVideoPtsUs = ptsUs;
    ++m_videoFramesWritten;
    drain(m_video.get(), m_videoStream, toVideoTicks(kVideoFrameUs));
}

void Mp4Writer::flushFragment()
{
    const int err = av_write_frame(m_format.get(), nullptr);
    if (err < 0)
        fail(QStringLiteral("the file cannot be written"), err);
}

void Mp4Writer::writeAudio(const float *interleaved, int frameCount, int64_t ptsUs)
{
    if (!m_audio || frameCount <= 0)
        return;
    const int rate = m_audio->sample_rate;
    const int channels = m_audio->ch_layout.nb_channels;
    const int64_t startSample = av_rescale(ptsUs, rate, 1000000);
    const int64_t gap = startSample - m_audioSamplesQueued;
    // The first sound is placed exactly; later jitter within the slack is
    // ignored so that steady sound is not cut up.
    const int64_t slack = m_audioSamplesQueued == 0 ? 0 : av_rescale(kAudioSlackUs, rate, 1000000);
    if (gap > slack) {
        appendSilence(gap);
    } else if (gap < -slack) {
        const int64_t skip = std::min<int64_t>(-gap, frameCount);
        interleaved += skip * channels;
        frameCount -= int(skip);
    }
    appendAudio(interleaved, frameCount);
    encodeAudio(false);
}

void Mp4Writer::appendAudio(const float *interleaved, int frameCount)
{
    if (frameCount <= 0)
        return;
    const int channels = int(m_planes.size());
    void *planes[2] = {};
    for (int ch = 0; ch < channels; ++ch) {
        m_planes[ch].resize(frameCount);
        for (int i = 0; i < frameCount; ++i)
            m_planes[ch][i] = interleaved[i * channels + ch];
        planes[ch] = m_planes[ch].data();
    }
    if (av_audio_fifo_write(m_fifo.get(), planes, frameCount) < frameCount)
        fail(QStringLiteral("there is not enough memory for the sound"), AVERROR(ENOMEM));
    m_audioSamplesQueued += frameCount;
}

void Mp4Writer::appendSilence(int64_t frameCount)
{
    const int channels = int(m_planes.size());
    std::vector<float> zeros;
    while (frameCount > 0) {
        const int n = int(std::min<int64_t>(frameCount, 4096));
        zeros.assign(size_t(n) * channels, 0.0f);
        appendAudio(zeros.data(), n);
        encodeAudio(false);
        frameCount -= n;
    }
}

void Mp4Writer::encodeAudio(bool flushAll)
{
    const int frameSize = m_audio->frame_size;
    while (av_audio_fifo_size(m_fifo.get()) >= frameSize || (flushAll && av_audio_fifo_size(m_fifo.get()) > 0)) {
        AvFramePtr frame(av_frame_alloc());
        frame->nb_samples = std::min(frameSize, av_audio_fifo_size(m_fifo.get()));
        frame->format = m_audio->sample_fmt;
        frame->sample_rate = m_audio->sample_rate;
        av_channel_layout_copy(&frame->ch_layout, &m_audio->ch_layout);
        int err = av_frame_get_buffer(frame.get(), 0);
        if (err < 0)
            fail(QStringLiteral("there is not enough memory for the sound"), err);
        av_audio_fifo_read(m_fifo.get(), reinterpret_cast<void **>(frame->data), frame->nb_samples);
        frame->pts = m_audioSamplesEncoded;
        m_audioSamplesEncoded += frame->nb_samples;
        err = avcodec_send_frame(m_audio.get(), frame.get());
        if (err < 0)
            fail(QStringLiteral("the sound cannot be encoded"), err);
        drain(m_audio.get(), m_audioStream, 0);
    }
}

void Mp4Writer::drain(AVCodecContext *codec, AVStream *stream, int64_t packetDuration)
{
    AVPacket *packet = m_packet.get();
    for (;;) {
        int err = avcodec_receive_packet(codec, packet);
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF)
            return;
        if (err < 0)
            fail(QStringLiteral("the encoder failed"), err);
        if (packet->duration <= 0)
            packet->duration = packetDuration;
        av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
        packet->stream_index = stream->index;
        err = av_interleaved_write_frame(m_format.get(), packet);
        if (err < 0)
            fail(QStringLiteral("the file cannot be written"), err);
    }
}

void Mp4Writer::finish(int64_t endUs)
{
    if (m_finished)
        return;
    m_finished = true;
    // The last picture stays until endUs, so the video lasts the recording.
    if (m_videoFramesWritten > 0 && endUs - kVideoFrameUs > m_lastVideoPtsUs)
        repeatVideo(endUs - kVideoFrameUs);
    avcodec_send_frame(m_video.get(), nullptr);
    drain(m_video.get(), m_videoStream, toVideoTicks(kVideoFrameUs));
    if (m_audio) {
        const int64_t endSample = av_rescale(endUs, m_audio->sample_rate, 1000000);
        if (endSample > m_audioSamplesQueued) {
            appendSilence(endSample - m_audioSamplesQueued);
        } else {
            // Sound past the end still waiting in the FIFO is cut off.
            const int64_t excess =
                std::min<int64_t>(m_audioSamplesQueued - endSample, av_audio_fifo_size(m_fifo.get()));
            const int keep = av_audio_fifo_size(m_fifo.get()) - int(excess);
            std::vector<std::vector<float>> tail(m_planes.size(), std::vector<float>(size_t(std::max(keep, 0))));
            void *planes[2] = {};
            for (size_t ch = 0; ch < tail.size(); ++ch)
                planes[ch] = tail[ch].data();
            av_audio_fifo_read(m_fifo.get(), planes, keep);
            av_audio_fifo_reset(m_fifo.get());
            av_audio_fifo_write(m_fifo.get(), planes, keep);
        }
        encodeAudio(true);
        avcodec_send_frame(m_audio.get(), nullptr);
        drain(m_audio.get(), m_audioStream, 0);
    }
    int err = av_write_trailer(m_format.get());
    if (err < 0)
        fail(QStringLiteral("the end of the file cannot be written"), err);
    err = avio_closep(&m_format->pb);
    if (err < 0)
        fail(QStringLiteral("the file cannot be closed"), err);
}

void Mp4Writer::fail(const QString &what, int code) const
{
    QString text = QStringLiteral("The recording could not be written to %1: %2").arg(m_path, what);
    if (code < 0)
        text += QStringLiteral(" (%1)").arg(avErrorText(code));
    throw RecorderError::failed(text + QLatin1Char('.'));
}
