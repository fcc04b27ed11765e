// The same client operations against the real mivra-server, when it is built.
#include "ServerProcess.h"
#include "ServiceRig.h"

#include <QNetworkAccessManager>
#include <QTemporaryDir>

namespace {

// mivra-server on 127.0.0.1 in a fresh folder.
struct RealServer {
    explicit RealServer(const QString &partSize)
    {
        if (ServerProcess::built())
            process.emplace((data.path() + QStringLiteral("/data")).toStdString(),
                            std::vector<std::string>{"--part-size", partSize.toStdString(), "--quiet"});
    }
    QUrl origin() const
    {
        return process && process->started() ? QUrl(QString::fromStdString(process->origin())) : QUrl();
    }

    QTemporaryDir data;
    std::optional<ServerProcess> process;
};

QByteArray fetch(const QUrl &url, int *status)
{
    QNetworkAccessManager network;
    QNetworkReply *reply = network.get(QNetworkRequest(url));
    EXPECT_TRUE(waitUntil([&] { return reply->isFinished(); }, 30000));
    *status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray body = reply->readAll();
    delete reply;
    return body;
}

struct RealRig {
    explicit RealRig(const QString &partSize) : server(partSize)
    {
        UploaderOptions options;
        options.timings = ServiceRig::fastTimings();
        options.log = [this](const QString &line) { logLines.append(line); };
        if (server.origin().isValid())
            uploader = std::make_unique<Uploader>(server.origin(), prefs, std::move(options));
    }
    QString makeFile(qint64 size)
    {
        const QString path = dir.filePath(QStringLiteral("rec-%1.mp4").arg(size));
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        QByteArray bytes(size, Qt::Uninitialized);
        quint32 x = 2463534242u;
        for (qint64 i = 0; i < size; ++i) {
            x ^= x << 13, x ^= x >> 17, x ^= x << 5;
            bytes[i] = char(x);
        }
        // The service takes MP4s only: the file-type box comes first.
        f.write(QByteArray("\0\0\0\x10"
                           "ftypisom",
                           12) +
                bytes.mid(12));
        return path;
    }

    RealServer server;
    MemoryPreferenceStore prefs;
    QTemporaryDir dir;
    QStringList logLines;
    std::unique_ptr<Uploader> uploader;
};

#define REQUIRE_SERVER(rig)                                                                                            \
    if (!(rig).uploader)                                                                                               \
    GTEST_SKIP() << "mivra-server is not built in this tree"

} // namespace

TEST(RealServer, MultipartUploadComesBackByteForByte)
{
    RealRig rig(QStringLiteral("64K"));
    REQUIRE_SERVER(rig);
    const QString file = rig.makeFile(7 * 64 * 1024 + 123);
    QList<QPair<qint64, qint64>> reports;
    const VideoInfo info = run(rig.uploader->upload(file, QStringLiteral("Integration"), qint64(4200), 640, 360,
                                                    Lifetime::ofSeconds(86400), [&](qint64 sent, qint64 total) {
                                                        reports.append({sent, total});
                                                    }));
    EXPECT_FALSE(info.id.isEmpty());
    EXPECT_TRUE(info.shareUrl.contains(info.id));
    EXPECT_EQ(rig.logLines.filter(" done (").size(), 8);
    EXPECT_EQ(reports.last(), (QPair<qint64, qint64>{7 * 64 * 1024 + 123, 7 * 64 * 1024 + 123}));
    EXPECT_LE(rig.uploader->peakPartBodiesHeld(), 3);

    int status = 0;
    QFile original(file);
    original.open(QIODevice::ReadOnly);
    EXPECT_EQ(fetch(QUrl(rig.server.origin().toString() + "/r/" + info.id), &status), original.readAll());
    EXPECT_EQ(status, 200);

    const VideoList list = run(rig.uploader->listVideos());
    ASSERT_EQ(list.videos.size(), 1);
    EXPECT_EQ(list.videos[0].id, info.id);
    EXPECT_EQ(list.videos[0].title, QStringLiteral("Integration"));
}

TEST(RealServer, SinglePartUploadsAndTheLinkEdits)
{
    RealRig rig(QStringLiteral("64K"));
    REQUIRE_SERVER(rig);
    for (const qint64 size : {qint64(16), qint64(64 * 1024)}) {
        const QString file = rig.makeFile(size);
        const VideoInfo info = run(rig.uploader->upload(file, QStringLiteral("One"), std::nullopt, std::nullopt,
                                                        std::nullopt, std::nullopt, {}));
        int status = 0;
        QFile original(file);
        original.open(QIODevice::ReadOnly);
        EXPECT_EQ(fetch(QUrl(rig.server.origin().toString() + "/r/" + info.id), &status), original.readAll()) << size;
        EXPECT_TRUE(rig.logLines.filter(" done (").isEmpty());

        const TitleResponse renamed = run(rig.uploader->rename(info.id, QStringLiteral("Renamed ✓")));
        EXPECT_EQ(renamed.title, QStringLiteral("Renamed ✓"));
        const KeepResponse forever = run(rig.uploader->setExpiry(info.id, Lifetime::forever()));
        EXPECT_EQ(forever.id, info.id);
        const KeepResponse day = run(rig.uploader->setExpiry(info.id, Lifetime::ofSeconds(86400)));
        EXPECT_NEAR(double(day.expiresAtMs), double(QDateTime::currentMSecsSinceEpoch() + 86400000), 600000.0);

        run(rig.uploader->deleteVideo(info.id));
        run(rig.uploader->deleteVideo(info.id)); // already gone: still fine
    }
    EXPECT_TRUE(run(rig.uploader->listVideos()).videos.isEmpty());
}

TEST(RealServer, AnotherDevicesVideoIsRefused)
{
    RealRig rig(QStringLiteral("64K"));
    REQUIRE_SERVER(rig);
    const VideoInfo info = run(rig.uploader->upload(rig.makeFile(16), QStringLiteral("Mine"), std::nullopt,
                                                    std::nullopt, std::nullopt, std::nullopt, {}));
    MemoryPreferenceStore otherPrefs;
    Uploader other(rig.server.origin(), otherPrefs, UploaderOptions{ServiceRig::fastTimings(), [](const QString &) {}});
    EXPECT_TRUE(run(other.listVideos()).videos.isEmpty());
    try {
        run(other.rename(info.id, QStringLiteral("Theirs")));
        ADD_FAILURE() << "renamed another device's video";
    } catch (const UploadError &e) {
        EXPECT_EQ(e.kind(), UploadError::Kind::http);
        EXPECT_TRUE(e.description().startsWith(QStringLiteral("Server returned 4"))) << e.description().toStdString();
    }
}
