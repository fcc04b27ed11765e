// The client's operations against the real mivra-server, when it is built.
#include "ServerProcess.h"
#include "ServiceRig.h"

#include <QNetworkAccessManager>

// A recording's single upload and the link edits meet the real server in the
// end-to-end tests (MainWindowRoadTest); here, an upload in parts.
TEST(RealServer, AnUploadInPartsComesBackByteForByteAndListed)
{
    if (!ServerProcess::built())
        GTEST_SKIP() << "mivra-server is not built in this tree";
    QTemporaryDir data;
    ServerProcess server((data.path() + QStringLiteral("/data")).toStdString(), {"--part-size", "64K", "--quiet"});
    ASSERT_TRUE(server.started());
    const QString origin = QString::fromStdString(server.origin());
    ServiceRig rig(ServiceRig::fastTimings(), nullptr, QUrl(origin));
    // The service takes MP4s only: the file-type box comes first.
    const QString file = rig.makeFile(7 * 64 * 1024 + 123, QStringLiteral("rec.mp4"),
                                      QByteArray("\0\0\0\x10"
                                                 "ftypisom",
                                                 12));
    const VideoInfo info = run(rig.uploader->upload(file, QStringLiteral("Integration"), qint64(4200), 640, 360,
                                                    Lifetime::ofSeconds(86400), {}));
    EXPECT_TRUE(info.shareUrl.startsWith(origin + QStringLiteral("/v/") + info.id));
    EXPECT_EQ(rig.logLines.filter(" done (").size(), 8);
    QNetworkAccessManager network;
    std::unique_ptr<QNetworkReply> media(network.get(QNetworkRequest(QUrl(origin + "/r/" + info.id))));
    ASSERT_TRUE(waitUntil([&] { return media->isFinished(); }, 30000));
    EXPECT_EQ(media->readAll(), rig.fileBytes(file));

    const VideoList list = run(rig.uploader->listVideos());
    EXPECT_EQ(std::make_tuple(list.videos.size(), list.videos.value(0).id, list.videos.value(0).title),
              std::make_tuple(qsizetype(1), info.id, std::optional<QString>("Integration")));
}
