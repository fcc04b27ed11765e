// Makes a link thumbnail from a 60 s 1080p recording, from the file and from
// its public URL on loopback, and runs `ffmpeg -ss 1 -i FILE -frames:v 1` on
// the same file in the same run. Reports the times (median of several runs),
// their ratio to ffmpeg's, and the bytes the remote one read against the
// file's size.
//
//   bench_thumbnail [--seconds N] [--runs N] [--file RECORDING.mp4]
#include "platform/media/FfmpegFrameGrabber.h"
#include "service/Thumbs.h"

#include "RangeFileServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

double medianMs(int runs, const std::function<void()> &work)
{
    QList<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        times << double(timer.nsecsElapsed()) / 1e6;
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// H.264 without reordering, key frames 20 s apart, AAC, fragmented with the
// index at the front: the shape of the app's own recordings.
bool makeRecording(const QString &path, int seconds)
{
    const QString length = QString::number(seconds);
    return QProcess::execute("ffmpeg", {"-loglevel",
                                        "error",
                                        "-y",
                                        "-f",
                                        "lavfi",
                                        "-i",
                                        "testsrc2=s=1920x1080:r=30:d=" + length,
                                        "-f",
                                        "lavfi",
                                        "-i",
                                        "sine=d=" + length,
                                        "-c:v",
                                        "libx264",
                                        "-preset",
                                        "veryfast",
                                        "-bf",
                                        "0",
                                        "-g",
                                        "600",
                                        "-pix_fmt",
                                        "yuv420p",
                                        "-c:a",
                                        "aac",
                                        "-movflags",
                                        "+frag_keyframe+empty_moov+default_base_moof",
                                        "-frag_duration",
                                        "1000000",
                                        path}) == 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int seconds = 60;
    int runs = 7;
    QString file;
    const QStringList arguments = app.arguments();
    for (int i = 1; i + 1 < arguments.size(); i += 2) {
        if (arguments[i] == "--seconds")
            seconds = arguments[i + 1].toInt();
        else if (arguments[i] == "--runs")
            runs = std::max(1, arguments[i + 1].toInt());
        else if (arguments[i] == "--file")
            file = arguments[i + 1];
    }

    QTemporaryDir dir;
    qputenv("XDG_DATA_HOME", dir.filePath("data").toUtf8());
    if (file.isEmpty()) {
        file = dir.filePath(QString("recording-%1s-1080p.mp4").arg(seconds));
        std::fprintf(stderr, "making a %d s 1080p recording...\n", seconds);
        if (!makeRecording(file, seconds)) {
            std::fprintf(stderr, "ffmpeg could not make the recording\n");
            return 1;
        }
    }
    const qint64 fileBytes = QFileInfo(file).size();

    const double ffmpegMs = medianMs(runs, [&] {
        QProcess::execute("ffmpeg", {"-loglevel", "error", "-y", "-ss", "1", "-i", file, "-frames:v", "1",
                                     dir.filePath("ffmpeg.jpg")});
    });

    RangeFileServer server;
    server.serve("/r/bench", file);
    Thumbs thumbs(server.origin(), std::make_shared<FfmpegFrameGrabber>());
    QSize made;
    const double localMs = medianMs(runs, [&] { made = thumbs.makeNow("bench", QUrl::fromLocalFile(file)).size(); });
    server.resetCounts();
    const double remoteMs = medianMs(runs, [&] { thumbs.makeNow("bench", thumbs.media("bench")); });
    const double remoteBytes = double(server.bytesSent()) / runs;
    const double requests = double(server.requests().size()) / runs;

    std::printf("thumbnail of %s (%.1f MB), median of %d runs\n",
                made.isValid() ? qPrintable(QFileInfo(file).fileName()) : "?", fileBytes / 1e6, runs);
    std::printf("  ffmpeg -ss 1 -i FILE -frames:v 1   %7.1f ms   (baseline)\n", ffmpegMs);
    std::printf("  Thumbs from the file                %7.1f ms   %.2fx ffmpeg   %dx%d JPEG\n", localMs,
                localMs / ffmpegMs, made.width(), made.height());
    std::printf("  Thumbs from /r/<id> on loopback     %7.1f ms   %.2fx ffmpeg\n", remoteMs, remoteMs / ffmpegMs);
    std::printf("  bytes read remotely                 %7.0f kB   %.1f%% of the file, %.1f requests\n",
                remoteBytes / 1e3, 100.0 * remoteBytes / double(fileBytes), requests);
    return 0;
}
