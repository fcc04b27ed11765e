#include "FfprobeReport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QtEndian>

#include <cstring>

namespace {
// The standard output of `command` (words split at spaces), with "{}" standing for `path`.
QByteArray output(const QString &command, const QString &path)
{
    QStringList args = command.split(QLatin1Char(' '));
    for (QString &arg : args)
        if (arg == QLatin1String("{}"))
            arg = path;
    QProcess process;
    process.start(args.takeFirst(), args);
    process.waitForFinished(60000);
    return process.readAllStandardOutput();
}
} // namespace

FfprobeReport ffprobe(const QString &path)
{
    const auto probe = [&path](const QString &what, const char *key) {
        const QJsonValue value =
            QJsonDocument::fromJson(output("ffprobe -v error " + what + " -of json {}", path)).object().value(key);
        return value.isArray() ? value.toArray().at(0).toObject() : value.toObject();
    };
    FfprobeReport report;
    report.format = probe("-show_format", "format");
    report.video = probe("-select_streams v:0 -show_streams", "streams");
    report.audio = probe("-select_streams a:0 -show_streams", "streams");
    report.ok = !report.format.isEmpty() && !report.video.isEmpty();
    return report;
}

std::string streamFields(const QJsonObject &stream, const char *keys)
{
    QStringList values;
    for (const QString &key : QString::fromLatin1(keys).split(QLatin1Char(' '), Qt::SkipEmptyParts))
        values << stream.value(key).toVariant().toString();
    return values.join(QLatin1Char(' ')).toStdString();
}

QList<QByteArray> ffprobeLines(const QString &arguments, const QString &path)
{
    return output("ffprobe -v error " + arguments + " -of csv=p=0 {}", path).split('\n');
}

double decodableVideoSeconds(const QString &path)
{
    // Decodes the whole video track; the last frame's time plus its length.
    double end = 0;
    for (const QByteArray &line :
         ffprobeLines("-select_streams v:0 -show_entries frame=pts_time,pkt_duration_time", path)) {
        const QList<QByteArray> fields = line.split(',');
        if (!fields[0].isEmpty())
            end = std::max(end, fields[0].toDouble() + fields.value(1).toDouble());
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
    for (qint64 offset = 0; offset + 8 <= file.size();) {
        file.seek(offset);
        const QByteArray head = file.read(16);
        quint64 length = qFromBigEndian<quint32>(head.constData());
        if (length == 1 && head.size() == 16) // a 64-bit size follows the type
            length = qFromBigEndian<quint64>(head.constData() + 8);
        boxes << Mp4Box{QString::fromLatin1(head.mid(4, 4)), offset, qint64(length)};
        if (length < 8)
            break;
        offset += qint64(length);
    }
    return boxes;
}

QByteArray decodeFrameBgrx(const QString &path, double timeSeconds, int width, int height)
{
    const QByteArray out = output(
        QStringLiteral("ffmpeg -v error -ss %1 -i {} -frames:v 1 -f rawvideo -pix_fmt bgr0 -").arg(timeSeconds), path);
    return out.size() == qsizetype(width) * height * 4 ? out : QByteArray();
}

QVector<float> decodeAudioMono(const QString &path, int sampleRate)
{
    const QByteArray out =
        output(QStringLiteral("ffmpeg -v error -i {} -ac 1 -ar %1 -f f32le -").arg(sampleRate), path);
    QVector<float> samples(out.size() / qsizetype(sizeof(float)));
    std::memcpy(samples.data(), out.constData(), std::size_t(samples.size()) * sizeof(float));
    return samples;
}
