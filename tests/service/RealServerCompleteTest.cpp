// A complete whose reply is lost after the real mivra-server carried it out
// is asked for again, and the upload ends with the published record.
#include "ServerProcess.h"
#include "ServiceRig.h"

#include <QNetworkAccessManager>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

// Relays connections to the server; the first reply to a complete is
// swallowed and its connection cut once the server has begun to answer,
// so the complete is done while the client never hears of it.
class LossyRelay {
public:
    explicit LossyRelay(quint16 serverPort) : m_serverPort(serverPort)
    {
        m_listener.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_listener, &QTcpServer::newConnection, [this] {
            while (QTcpSocket *client = m_listener.nextPendingConnection())
                relay(client);
        });
    }
    QUrl origin() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_listener.serverPort())); }
    int completesSeen = 0;
    int repliesLost = 0;

private:
    void relay(QTcpSocket *client)
    {
        auto *server = new QTcpSocket(client);
        auto tail = std::make_shared<QByteArray>(); // the last bytes looked at, for a line split in two
        auto swallowing = std::make_shared<bool>(false);
        server->connectToHost(QHostAddress::LocalHost, m_serverPort);
        QObject::connect(client, &QTcpSocket::readyRead, server, [=, this] {
            static const QByteArray completeLine("/complete HTTP/1.1");
            const QByteArray bytes = client->readAll();
            const QByteArray seen = *tail + bytes;
            for (qsizetype at = seen.indexOf(completeLine); at >= 0; at = seen.indexOf(completeLine, at + 1)) {
                ++completesSeen;
                *swallowing = repliesLost == 0;
            }
            *tail = seen.right(completeLine.size() - 1);
            server->write(bytes);
        });
        QObject::connect(server, &QTcpSocket::readyRead, client, [=, this] {
            const QByteArray bytes = server->readAll();
            if (!*swallowing)
                return void(client->write(bytes));
            ++repliesLost;
            client->abort();
        });
        QObject::connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
        QObject::connect(server, &QTcpSocket::disconnected, client, [client] { client->disconnectFromHost(); });
    }

    quint16 m_serverPort;
    QTcpServer m_listener;
};

} // namespace

TEST(RealServerComplete, ALostReplyIsAskedForAgainAndTheUploadEndsWithThePublishedRecord)
{
    if (!ServerProcess::built())
        GTEST_SKIP() << "mivra-server is not built in this tree";
    QTemporaryDir data;
    ServerProcess server((data.path() + QStringLiteral("/data")).toStdString(), {"--part-size", "64K", "--quiet"});
    ASSERT_TRUE(server.started());
    LossyRelay relay(quint16(server.port()));
    ServiceRig rig(ServiceRig::fastTimings(), nullptr, relay.origin());
    const QByteArray ftyp("\0\0\0\x10"
                          "ftypisom",
                          12);
    const QString file = rig.makeFile(3 * 64 * 1024 + 17, QStringLiteral("rec.mp4"), ftyp);

    const VideoInfo info = run(rig.uploader->upload(file, QStringLiteral("Twice"), qint64(1500), 320, 240, std::nullopt,
                                                    [](qint64, qint64) {}));
    EXPECT_EQ(relay.repliesLost, 1);
    EXPECT_EQ(relay.completesSeen, 2);
    EXPECT_EQ(rig.retryWaits, QList<int>{0});
    EXPECT_EQ(rig.logLines.filter(QStringLiteral("part 4/4 done")).size(), 1) << "parts are not sent again";

    // The record answered to the retry is the published video.
    const VideoList list = run(rig.uploader->listVideos());
    ASSERT_EQ(list.videos.size(), 1);
    EXPECT_EQ(list.videos[0].id, info.id);
    EXPECT_EQ(list.videos[0].title, QStringLiteral("Twice"));
    EXPECT_EQ(list.videos[0].expiresAtMs, info.expiresAtMs);
    QNetworkAccessManager network;
    std::unique_ptr<QNetworkReply> media(
        network.get(QNetworkRequest(QUrl(relay.origin().toString() + "/r/" + info.id))));
    ASSERT_TRUE(waitUntil([&] { return media->isFinished(); }, 30000));
    EXPECT_EQ(media->readAll(), rig.fileBytes(file));
}
