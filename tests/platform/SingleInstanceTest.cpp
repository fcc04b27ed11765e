#include "Await.h"

#include "platform/SingleInstance.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using SingleInstance::HandOver;

TEST(SingleInstance, LaterLaunchHandsItsUrlsToTheRunningOne)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("instance"));
    EXPECT_EQ(run(SingleInstance::handOver(path, {})), HandOver::noInstance);

    InstanceServer server(path);
    ASSERT_TRUE(server.listen());
    QSignalSpy received(&server, &InstanceServer::urlsReceived);
    const QList<QUrl> urls{QUrl(QStringLiteral("mivra://record?silent=1")), QUrl(QStringLiteral("mivra://show"))};
    EXPECT_EQ(run(SingleInstance::handOver(path, urls)), HandOver::delivered);
    ASSERT_EQ(received.size(), 1);
    EXPECT_EQ(received[0][0].value<QList<QUrl>>(), urls);

    // A plain relaunch arrives as an empty list.
    EXPECT_EQ(run(SingleInstance::handOver(path, {})), HandOver::delivered);
    ASSERT_EQ(received.size(), 2);
    EXPECT_TRUE(received[1][0].value<QList<QUrl>>().isEmpty());

    // Only one app may listen there.
    InstanceServer second(path);
    EXPECT_FALSE(second.listen());
}

TEST(SingleInstance, TakesOverTheSocketOfACrashedRun)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("instance"));
    {
        // A socket file nobody listens on any more.
        QLocalServer dead;
        dead.setSocketOptions(QLocalServer::UserAccessOption);
        ASSERT_TRUE(dead.listen(path));
        dead.close();
        QFile stale(path);
        if (!stale.exists()) {
            ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
        }
    }
    InstanceServer server(path);
    EXPECT_TRUE(server.listen());
}

TEST(SingleInstance, MalformedOrOversizedMessagesAreDropped)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("instance"));
    InstanceServer server(path);
    ASSERT_TRUE(server.listen());
    QSignalSpy received(&server, &InstanceServer::urlsReceived);

    for (const QByteArray &message :
         {QByteArray("HELLO\nmivra://record\n\n"), QByteArray("MIVRA1\n") + QByteArray(70 * 1024, 'x')}) {
        QLocalSocket socket;
        socket.connectToServer(path);
        ASSERT_TRUE(socket.waitForConnected(1000));
        socket.write(message);
        EXPECT_TRUE(waitUntil([&] { return socket.state() == QLocalSocket::UnconnectedState; }));
        EXPECT_TRUE(socket.readAll().isEmpty()) << "no answer for a bad message";
    }
    EXPECT_EQ(received.size(), 0);
}

} // namespace
