#include "capture/MediaProbe.h"

#include "capture/FfmpegHandles.h"

#include <QFile>

std::optional<qint64> probeDurationMs(const QString &path)
{
    AVFormatContext *raw = nullptr;
    if (avformat_open_input(&raw, QFile::encodeName(path).constData(), nullptr, nullptr) < 0)
        return std::nullopt;
    AvInputPtr input(raw);
    if (avformat_find_stream_info(input.get(), nullptr) < 0)
        return std::nullopt;
    if (input->duration == AV_NOPTS_VALUE || input->duration < 0)
        return std::nullopt;
    return qint64(input->duration / 1000); // AV_TIME_BASE is microseconds
}
