// The client's operations against the real mivra-server, when it is built.
#include "ServerProcess.h"
#include "ServiceRig.h"

#include <QNetworkAccessManager>

namespace {

QByteArray fetch(const QUrl &url)
{
    QNetworkAccessManager network;
    std::unique_ptr<QNetworkReply> reply(network.get(QNetworkRequest(url)));
    EXPECT_TRUE(waitUntil([&] { return reply->isFinished(); }, 30000));
    EXPECT_EQ(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200) << url.toString().toStdString();
    return reply->readAll();
}

} // namespace

TEST(RealServer, UploadsComeBackByteForByteAndTheirLinksEdit)
{
    if (!ServerProcess::built())
        GTEST_SKIP() << "mivra-server is not built in this tree";
    QTemporaryDir data;
    ServerProcess server((data.path() + QStringLiteral("/data")).toStdString(), {"--part-size", "64K", "--quiet"});
    ASSERT_TRUE(server.started());
    const QString origin = QString::fromStdString(server.origin());
    ServiceRig rig(ServiceRig::fastTimings(), nullptr, QUrl(origin));
    // The service takes MP4s only: the file-type box comes first. Many parts,
    // one byte under a part, exactly a part.
    const QByteArray ftyp("\0\0\0\x10"
                          "ftypisom",
                          12);
    for (const qint64 size : {qint64(7 * 64 * 1024 + 123), qint64(16), qint64(64 * 1024)}) {
        SCOPED_TRACE(size);
        const QString file = rig.makeFile(size, QStringLiteral("rec-%1.mp4").arg(size), ftyp);
        rig.logLines.clear();
        QList<QPair<qint64, qint64>> reports;
        const VideoInfo info = run(rig.uploader->upload(file, QStringLiteral("Integration"), qint64(4200), 640, 360,
                                                        Lifetime::ofSeconds(86400), [&](qint64 sent, qint64 total) {
                                                            reports.append({sent, total});
                                                        }));
        EXPECT_TRUE(info.shareUrl.startsWith(origin + QStringLiteral("/v/") + info.id));
        EXPECT_EQ(rig.logLines.filter(" done (").size(), size > 64 * 1024 ? 8 : 0);
        EXPECT_EQ(reports.last(), (QPair<qint64, qint64>{size, size}));
        EXPECT_EQ(fetch(QUrl(origin + "/r/" + info.id)), rig.fileBytes(file));

        const VideoList list = run(rig.uploader->listVideos());
        ASSERT_EQ(list.videos.size(), 1);
        EXPECT_EQ(list.videos[0].id, info.id);
        EXPECT_EQ(list.videos[0].title, QStringLiteral("Integration"));
        EXPECT_EQ(run(rig.uploader->rename(info.id, QStringLiteral("Renamed ✓"))).title, QStringLiteral("Renamed ✓"));
        EXPECT_EQ(run(rig.uploader->setExpiry(info.id, Lifetime::forever())).id, info.id);
        const KeepResponse day = run(rig.uploader->setExpiry(info.id, Lifetime::ofSeconds(86400)));
        EXPECT_NEAR(double(day.expiresAtMs), double(QDateTime::currentMSecsSinceEpoch() + 86400000), 600000.0);
        run(rig.uploader->deleteVideo(info.id));
        run(rig.uploader->deleteVideo(info.id)); // already gone: still fine
        EXPECT_TRUE(run(rig.uploader->listVideos()).videos.isEmpty());
    }
}
