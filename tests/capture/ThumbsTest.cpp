#include "service/Thumbs.h"
#include "platform/media/FfmpegFrameGrabber.h"
#include "service/ThumbnailFiles.h"

#include "DecodedPicture.h"
#include "PrivateHome.h"
#include "QtPrinters.h"
#include "RangeFileServer.h"

#include <QDir>
#include <QImageReader>
#include <QMutex>
#include <QProcess>
#include <QSemaphore>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <tuple>

namespace {

// Small real videos, made once for the whole suite.
class ThumbsTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_videos = std::make_unique<QTemporaryDir>();
        // Red until 0.95 s, then blue: the picture tells which frame was taken.
        makeVideo("timed",
                  {"-f", "lavfi", "-i", "color=c=red:s=640x360:r=10:d=2,drawbox=c=blue:t=fill:enable='gte(t,0.95)'"});
        // Half a second: its last frame, yellow, is the nearest to 1 s.
        makeVideo("short", {"-f", "lavfi", "-i",
                            "color=c=green:s=320x240:r=10:d=0.5,drawbox=c=yellow:t=fill:enable='gte(t,0.35)'"});
        // Twenty one-second fragments with the index at the front, as the app records.
        makeVideo("fragmented",
                  {"-f", "lavfi", "-i", "testsrc2=s=640x360:r=30:d=20", "-preset", "ultrafast", "-g", "600",
                   "-movflags", "+frag_keyframe+empty_moov+default_base_moof", "-frag_duration", "1000000"});
        makeVideo("sound", {"-f", "lavfi", "-i", "sine=d=1", "-c:a", "aac"});
        // Landscape, red top, stored with a quarter turn for display.
        makeVideo("flat", {"-f", "lavfi", "-i", "color=c=blue:s=640x360:r=10:d=2,drawbox=c=red:w=640:h=180:t=fill"});
        makeVideo("turned", {"-i", video("flat"), "-c", "copy", "-metadata:s:v:0", "rotate=90"});
    }

    static QString video(const char *name) { return s_videos->filePath(QString::fromLatin1(name) + ".mp4"); }
    static void makeVideo(const char *name, QStringList arguments)
    {
        if (!arguments.contains("-c") && !arguments.contains("-c:a"))
            arguments << QStringList{"-c:v", "libx264", "-pix_fmt", "yuv420p"};
        QProcess ffmpeg;
        ffmpeg.start("ffmpeg", QStringList{"-loglevel", "error", "-y"} + arguments << video(name));
        ASSERT_TRUE(ffmpeg.waitForFinished(30000) && ffmpeg.exitCode() == 0) << ffmpeg.readAllStandardError().data();
    }

    PrivateHome home{PrivateHome::thisProcess};
    std::shared_ptr<FfmpegFrameGrabber> grabber = std::make_shared<FfmpegFrameGrabber>();
    static inline std::unique_ptr<QTemporaryDir> s_videos;
};

TEST_F(ThumbsTest, TakesTheFrameAtOneSecondUprightOrNoneAndCachesWhatItTook)
{
    const struct {
        const char *video;
        QSize size; // 0 x 0: no picture, nothing written
        QPoint at;
        QColor colour;
    } cases[] = {
        {"timed", {320, 180}, {160, 90}, Qt::blue},
        {"short", {320, 240}, {160, 120}, Qt::yellow},
        // Turned upright as ffmpeg shows it: the red top on the left.
        {"turned", {180, 320}, {18, 160}, Qt::red},
        {"sound", {0, 0}, {}, {}},
    };
    Thumbs thumbs(QUrl("http://127.0.0.1:9"), grabber);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.video);
        const QImage made = thumbs.makeNow(c.video, QUrl::fromLocalFile(video(c.video)));
        const QImage cached = QImageReader(ThumbnailFiles::pathFor(c.video), "jpeg").read();
        EXPECT_EQ(std::pair(made.size(), cached.size()), std::pair(c.size, c.size));
        if (!c.size.isEmpty())
            EXPECT_TRUE(near(cached, c.at, c.colour, 39));
    }
}

TEST_F(ThumbsTest, ShowsTheCachedPictureWithoutARequestAndRemakesAMissingOneFromTheService)
{
    RangeFileServer server;
    server.serve("/r/v1", video("fragmented"));
    Thumbs thumbs(server.origin(), grabber);
    // What a load shows (made on the cache's own threads) and the paths it
    // asked the service for, with whether any carried the device token and
    // whether it read from the front rather than a range per fragment.
    const auto load = [&] {
        server.resetCounts();
        const QSize size = thumbs.load("v1").result().size();
        QStringList paths;
        for (const ServedRequest &request : server.requests())
            paths << QString::fromLatin1(request.path) + (request.headers.contains("x-device-token") ? " token" : "");
        paths.removeDuplicates();
        return std::tuple(size, paths, server.requests().size() <= 2);
    };
    EXPECT_EQ(load(), std::tuple(QSize(320, 180), QStringList{"/r/v1"}, true));
    EXPECT_EQ(load(), std::tuple(QSize(320, 180), QStringList{}, true)) << "shown from the cache";
    Thumbs::remove("v1");
    EXPECT_EQ(load(), std::tuple(QSize(320, 180), QStringList{"/r/v1"}, true)) << "made again";
}

TEST_F(ThumbsTest, MakesOfOneIdAtOnceLeaveOneWholePicture)
{
    Thumbs thumbs(QUrl("http://127.0.0.1:9"), grabber);
    QList<QFuture<QImage>> makes;
    for (int i = 0; i < 4; ++i)
        makes << thumbs.make("same", QUrl::fromLocalFile(video(i % 2 ? "timed" : "short")));
    for (QFuture<QImage> &make : makes)
        make.waitForFinished();
    const QImage cached = QImageReader(ThumbnailFiles::pathFor("same"), "jpeg").read();
    EXPECT_TRUE(cached.size() == QSize(320, 180) || cached.size() == QSize(320, 240));
    EXPECT_EQ(QDir(Thumbs::dir()).entryList(QDir::Files), QStringList{"same.jpg"});
}

TEST_F(ThumbsTest, AnIdThatWouldLeaveTheFolderNeverReachesTheServiceOrTheDisk)
{
    RangeFileServer server;
    Thumbs thumbs(server.origin(), grabber);
    for (const char *id : {"../precious", "a/b", "..", ""}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(std::tuple(thumbs.media(id), thumbs.loadNow(id).isNull(),
                             thumbs.makeNow(id, QUrl::fromLocalFile(video("timed"))).isNull()),
                  std::tuple(QUrl(), true, true));
    }
    EXPECT_TRUE(server.requests().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(ThumbnailFiles::folder())); // not even the folder was made
}

// Holds each grab until released, counting how many run at once.
class HeldGrabber final : public FrameGrabber {
public:
    QImage grab(const QUrl &source, const FrameWindow &) override
    {
        {
            const QMutexLocker lock(&mutex);
            order << source;
            peak = std::max(peak, ++running);
            onCaller = onCaller || QThread::currentThread() == caller;
        }
        started.release();
        gate.acquire();
        const QMutexLocker lock(&mutex);
        --running;
        return QImage(8, 8, QImage::Format_RGB32);
    }
    int running = 0, peak = 0; // with the flag and the order, under the mutex
    bool onCaller = false;
    QSemaphore started, gate;
    QMutex mutex;
    QList<QUrl> order; // as the grabs began
    QThread *caller = QThread::currentThread();
};

TEST_F(ThumbsTest, TwentyLinksLoadOffTheCallersThreadTwoAtATimeBehindANewRecording)
{
    auto held = std::make_shared<HeldGrabber>();
    Thumbs thumbs(QUrl("http://127.0.0.1:9"), held);
    QList<QFuture<QImage>> loads;
    for (int i = 0; i < 20; ++i)
        loads << thumbs.load(QString("link%1").arg(i));
    held->started.acquire(2); // two are in, held at the gate
    const QUrl recording = QUrl::fromLocalFile("/tmp/fresh.mp4");
    loads << thumbs.make("fresh", recording) << thumbs.load("fresh");
    held->gate.release(21);
    for (QFuture<QImage> &load : loads)
        load.waitForFinished();
    EXPECT_EQ(held->peak, 2);
    EXPECT_EQ(held->order.indexOf(recording), 2) << "a new recording's picture goes before the queued loads";
    EXPECT_FALSE(held->order.contains(thumbs.media("fresh"))) << "its view waits for it instead of fetching the video";
    EXPECT_FALSE(held->onCaller);
}

} // namespace
