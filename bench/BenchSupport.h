#pragma once

// What the benchmarks share: the process's CPU time, medians, a pause on the
// event loop, frames counted in a file, the recorder's last log line, and the
// drawing child that changes the whole screen 30 times a second.

#include "base/Diag.h"

#include <QCoreApplication>
#include <QCoroTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <vector>

inline double cpuSecondsOfSelf()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

inline QCoro::Task<> pause(double seconds)
{
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setSingleShot(true);
    timer.start(int(seconds * 1000));
    co_await timer;
}

inline int countFrames(const QString &path)
{
    QProcess probe;
    probe.start(QStringLiteral("ffprobe"), {"-v", "error", "-select_streams", "v:0", "-count_packets", "-show_entries",
                                            "stream=nb_read_packets", "-of", "csv=p=0", path});
    probe.waitForFinished(60000);
    return probe.readAllStandardOutput().trimmed().toInt();
}

// The last log line holding `marker`, after its time stamp.
inline QString lastLogLine(const QString &marker)
{
    QFile log(Diag::path());
    if (!log.open(QIODevice::ReadOnly))
        return QString();
    QString last;
    for (const QByteArray &line : log.readAll().split('\n')) {
        if (line.contains(marker.toUtf8()))
            last = QString::fromUtf8(line.mid(line.indexOf(' ') + 1));
    }
    return last;
}

// Starts `bench_record --draw` and gives it half a second to warm up (its
// first frames and the X server's caches); false when it did not start.
inline bool startDrawer(QProcess &drawer)
{
    drawer.start(QCoreApplication::applicationDirPath() + QStringLiteral("/bench_record"), {"--draw"});
    if (!drawer.waitForStarted(5000))
        return false;
    QThread::msleep(500);
    return true;
}
