#include "app/LeftBehindRecordings.h"

#include "app/ByteCountText.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>

namespace {
// Every MP4 file opens with its file-type box.
bool startsLikeMp4(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(8);
    return head.size() == 8 && head.mid(4, 4) == "ftyp";
}
} // namespace

namespace LeftBehindRecordings {

std::optional<QDateTime> recordedAt(const QString &fileName)
{
    static const QRegularExpression pattern(QStringLiteral(R"(^Mivra (\d{4}-\d{2}-\d{2} \d{2}\.\d{2}\.\d{2})\.mp4$)"));
    const QRegularExpressionMatch match = pattern.match(fileName);
    if (!match.hasMatch())
        return std::nullopt;
    QDateTime time = QDateTime::fromString(match.captured(1), QStringLiteral("yyyy-MM-dd HH.mm.ss"));
    if (!time.isValid())
        return std::nullopt;
    return time;
}

QList<LeftBehindRecording> list(const QString &folder, const QString &busyPath, const QDateTime &now,
                                const DurationProbe &probe, const QString &closedPath)
{
    QList<LeftBehindRecording> found;
    const QFileInfoList entries = QDir(folder).entryInfoList({QStringLiteral("*.mp4")}, QDir::Files);
    const auto absolute = [](const QString &path) {
        return path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath();
    };
    const QString busy = absolute(busyPath);
    const QString closed = absolute(closedPath);
    for (const QFileInfo &entry : entries) {
        const std::optional<QDateTime> when = recordedAt(entry.fileName());
        const QString path = entry.absoluteFilePath();
        if (!when || path == busy)
            continue;
        if ((path != closed && entry.lastModified().secsTo(now) < kQuietSeconds) || !startsLikeMp4(path))
            continue;
        found.append({path, entry.completeBaseName(), entry.size(), probe ? probe(path) : std::nullopt, *when});
    }
    std::sort(found.begin(), found.end(),
              [](const LeftBehindRecording &a, const LeftBehindRecording &b) { return a.recordedAt > b.recordedAt; });
    return found;
}

QString lengthText(const std::optional<qint64> &durationMs)
{
    if (!durationMs || *durationMs < 0)
        return QString();
    const qint64 seconds = *durationMs / 1000;
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString sizeText(qint64 bytes)
{
    if (bytes < 1000000)
        return ByteCountText::kilobytes(bytes) + QStringLiteral(" KB");
    return ByteCountText::megabytes(bytes) + QStringLiteral(" MB");
}

} // namespace LeftBehindRecordings
