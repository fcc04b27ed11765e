#include "capture/UploadProbe.h"

#include "capture/FfmpegHandles.h"

#include <QFile>

extern "C" {
#include <libavutil/log.h>
}

namespace {
// FFmpeg's own complaints about a file that is not a video would only repeat
// what the caller says in one line.
class QuietFfmpegLog {
public:
    QuietFfmpegLog() : m_level(av_log_get_level()) { av_log_set_level(AV_LOG_QUIET); }
    ~QuietFfmpegLog() { av_log_set_level(m_level); }

private:
    int m_level;
};
} // namespace

MediaFacts probeMediaFacts(const QString &path)
{
    const QuietFfmpegLog quiet;
    MediaFacts facts;
    AVFormatContext *raw = nullptr;
    if (avformat_open_input(&raw, QFile::encodeName(path).constData(), nullptr, nullptr) < 0)
        return facts;
    const std::unique_ptr<AVFormatContext, AvInputClose> input(raw);
    if (avformat_find_stream_info(input.get(), nullptr) < 0)
        return facts;
    facts.readable = true;
    if (input->duration != AV_NOPTS_VALUE && input->duration >= 0)
        facts.durationMs = qint64(input->duration / 1000); // AV_TIME_BASE is microseconds
    const int video = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (video >= 0) {
        const AVCodecParameters *codec = input->streams[video]->codecpar;
        if (codec->width > 0 && codec->height > 0) {
            facts.width = codec->width;
            facts.height = codec->height;
        }
    }
    return facts;
}
