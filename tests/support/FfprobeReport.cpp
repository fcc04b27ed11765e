#include "FfprobeReport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>

#include <cstring>

namespace {
QByteArray run(const QString &program, const QStringList &args)
{
    QProcess process;
    process.start(program, args);
    process.waitForFinished(60000);
    return process.readAllStandardOutput();
}
} // namespace

double FfprobeReport::durationSeconds() const
{
    return format.value(QStringLiteral("duration")).toString().toDouble();
}

double FfprobeReport::videoDurationSeconds() const
{
    return video.value(QStringLiteral("duration")).toString().toDouble();
}

double FfprobeReport::audioDurationSeconds() const
{
    return audio.value(QStringLiteral("duration")).toString().toDouble();
}

FfprobeReport ffprobe(const QString &path)
{
    FfprobeReport report;
    const QByteArray out = run(QStringLiteral("ffprobe"),
                               {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_format"),
                                QStringLiteral("-show_streams"), QStringLiteral("-of"), QStringLiteral("json"), path});
    const QJsonObject root = QJsonDocument::fromJson(out).object();
    report.format = root.value(QStringLiteral("format")).toObject();
    for (const QJsonValue &value : root.value(QStringLiteral("streams")).toArray()) {
        const QJsonObject stream = value.toObject();
        const QString type = stream.value(QStringLiteral("codec_type")).toString();
        if (type == QStringLiteral("video") && report.video.isEmpty())
            report.video = stream;
        if (type == QStringLiteral("audio") && report.audio.isEmpty())
            report.audio = stream;
    }
    report.ok = !report.format.isEmpty() && !report.video.isEmpty();
    return report;
}

int countVideoFrames(const QString &path)
{
    return run(QStringLiteral("ffprobe"),
               {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"), QStringLiteral("v:0"),
                QStringLiteral("-count_packets"), QStringLiteral("-show_entries"),
                QStringLiteral("stream=nb_read_packets"), QStringLiteral("-of"), QStringLiteral("csv=p=0"), path})
        .trimmed()
        .toInt();
}

double decodableVideoSeconds(const QString &path)
{
    // Decodes the whole video track; the last frame's time plus its length.
    const QByteArray out =
        run(QStringLiteral("ffprobe"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"), QStringLiteral("v:0"),
             QStringLiteral("-show_entries"), QStringLiteral("frame=pts_time,pkt_duration_time"), QStringLiteral("-of"),
             QStringLiteral("csv=p=0"), path});
    double end = 0;
    for (const QByteArray &line : out.split('\n')) {
        const QList<QByteArray> fields = line.split(',');
        if (fields.size() < 1 || fields[0].isEmpty())
            continue;
        const double pts = fields[0].toDouble();
        const double length = fields.size() > 1 ? fields[1].toDouble() : 0;
        end = std::max(end, pts + length);
    }
    return end;
}

QStringList boxTypes(const QList<Mp4Box> &boxes)
{
    QStringList types;
    for (const Mp4Box &box : boxes)
        types << box.type;
    return types;
}

QList<Mp4Box> topLevelBoxes(const QString &path)
{
    QList<Mp4Box> boxes;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return boxes;
    qint64 offset = 0;
    const qint64 size = file.size();
    while (offset + 8 <= size) {
        file.seek(offset);
        const QByteArray head = file.read(16);
        quint64 length = (quint64(uchar(head[0])) << 24) | (quint64(uchar(head[1])) << 16) |
                         (quint64(uchar(head[2])) << 8) | quint64(uchar(head[3]));
        if (length == 1 && head.size() >= 16) {
            length = 0;
            for (int i = 8; i < 16; ++i)
                length = (length << 8) | uchar(head[i]);
        }
        boxes << Mp4Box{QString::fromLatin1(head.mid(4, 4)), offset, qint64(length)};
        if (length < 8)
            break;
        offset += qint64(length);
    }
    return boxes;
}

QByteArray decodeFrameBgrx(const QString &path, double timeSeconds, int width, int height)
{
    const QByteArray out =
        run(QStringLiteral("ffmpeg"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-ss"), QString::number(timeSeconds),
             QStringLiteral("-i"), path, QStringLiteral("-frames:v"), QStringLiteral("1"), QStringLiteral("-f"),
             QStringLiteral("rawvideo"), QStringLiteral("-pix_fmt"), QStringLiteral("bgr0"), QStringLiteral("-")});
    return out.size() == qsizetype(width) * height * 4 ? out : QByteArray();
}

QVector<float> decodeAudioMono(const QString &path, int sampleRate)
{
    const QByteArray out =
        run(QStringLiteral("ffmpeg"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), path, QStringLiteral("-ac"),
             QStringLiteral("1"), QStringLiteral("-ar"), QString::number(sampleRate), QStringLiteral("-f"),
             QStringLiteral("f32le"), QStringLiteral("-")});
    QVector<float> samples(out.size() / qsizetype(sizeof(float)));
    std::memcpy(samples.data(), out.constData(), std::size_t(samples.size()) * sizeof(float));
    return samples;
}
