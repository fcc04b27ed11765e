#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

// A recording of ours still in the recordings folder: its upload failed, or
// a crash or power loss cut it short.
struct LeftBehindRecording {
    QString path;
    QString name; // the file name without ".mp4"
    qint64 sizeBytes = 0;
    std::optional<qint64> durationMs;
    QDateTime recordedAt; // from the file name

    friend bool operator==(const LeftBehindRecording &, const LeftBehindRecording &) = default;
};

namespace LeftBehindRecordings {
using DurationProbe = std::function<std::optional<qint64>(const QString &path)>;

// A file written within this many seconds may still be recording in another
// process: the writer flushes at least every second while it runs.
inline constexpr qint64 kQuietSeconds = 5;

// The time in one of our file names ("Mivra 2026-12-05 08.55.00.mp4"), or
// nothing for any other name.
std::optional<QDateTime> recordedAt(const QString &fileName);
// Our MP4 files in `folder`, newest first, leaving out `busyPath` (the one
// being recorded or uploaded now), files still being written elsewhere, and
// anything that is not an MP4 under our name. `closedPath`, a file this
// process closed itself, is listed however recently it was written. `probe`
// may be empty.
QList<LeftBehindRecording> list(const QString &folder, const QString &busyPath, const QDateTime &now,
                                const DurationProbe &probe, const QString &closedPath = QString());
// "1:05" (minutes are not wrapped at the hour), or "" when unknown.
QString lengthText(const std::optional<qint64> &durationMs);
// "12.3 MB", "850 KB".
QString sizeText(qint64 bytes);
} // namespace LeftBehindRecordings
