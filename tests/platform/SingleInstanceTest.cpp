// The single-instance socket: taking over a stale one, and what a bad or
// foreign message gets. Requests and their answers both ways are the running
// app's command tests.
#include "Await.h"

#include "platform/SingleInstance.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using SingleInstance::HandOver;

class SingleInstanceTest : public testing::Test {
protected:
    // What a raw client hears back for `bytes`, until the app closes.
    QByteArray answerTo(const QByteArray &bytes)
    {
        QLocalSocket socket;
        socket.connectToServer(path);
        if (!socket.waitForConnected(2000))
            return "not connected";
        socket.write(bytes);
        QByteArray heard;
        if (!waitUntil([&] {
                heard += socket.readAll();
                return socket.state() == QLocalSocket::UnconnectedState;
            }))
            return "still open";
        return heard + socket.readAll();
    }

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("instance"));
};

// Handing URLs over to the running app is the recording road's (record, stop,
// discard and a plain launch through a running app).
TEST_F(SingleInstanceTest, TheSocketOfACrashedRunIsTakenOverAndOnlyOneListens)
{
    // A socket file nobody listens on any more.
    QFile stale(path);
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.close();
    EXPECT_EQ(run(SingleInstance::handOver(path, {})), HandOver::noInstance);
    InstanceServer server(path);
    ASSERT_TRUE(server.listen());
    EXPECT_FALSE(InstanceServer(path).listen());
}

TEST_F(SingleInstanceTest, BadForeignAndOversizedMessagesGetAnAnswerOrNothingNotACrash)
{
    InstanceServer server(path);
    ASSERT_TRUE(server.listen());
    int requests = 0;
    QObject::connect(&server, &InstanceServer::requestReceived, &server, [&requests](InstanceRequest *request) {
        ++requests;
        request->finish(0);
    });
    QSignalSpy urls(&server, &InstanceServer::urlsReceived);
    const QByteArray unreadable = R"({"error":"The request could not be read.","exit":2})"
                                  "\n";
    const struct {
        const char *name;
        QByteArray bytes;
        QByteArray answer;
    } cases[] = {
        {"not JSON", "MIVRA2\n{nope\n", unreadable},
        {"no command", "MIVRA2\n{\"x\":1}\n", unreadable},
        {"later version", "MIVRA3\n{}\n", "unsupported\n"},
        {"too long", "MIVRA2\n" + QByteArray(InstanceServer::kMaxMessageBytes + 10, 'x'),
         QByteArray(R"({"error":"The request is too long.","exit":2})") + "\n"},
        {"foreign", "HELLO\nmivra://record\n\n", ""},
        {"URLs too long", "MIVRA1\n" + QByteArray(InstanceServer::kMaxMessageBytes + 10, 'x'), ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(answerTo(c.bytes), c.answer);
    }
    EXPECT_EQ(std::pair(requests, urls.size()), std::pair(0, qsizetype(0)));
    // The server still serves.
    EXPECT_EQ(answerTo("MIVRA2\n{\"command\":\"links\"}\n"), QByteArray("{\"accepted\":true}\n{\"exit\":0}\n"));
}

TEST_F(SingleInstanceTest, AnAppThatTakesTheRequestButNeverAnswersCountsAsOlder)
{
    QLocalServer hung;
    ASSERT_TRUE(hung.listen(path));
    InstanceClient client;
    QSignalSpy unsupported(&client, &InstanceClient::unsupported);
    QSignalSpy closed(&client, &InstanceClient::closed);
    ASSERT_TRUE(client.start(path, {{QStringLiteral("command"), QStringLiteral("links")}}, 200));
    ASSERT_TRUE(waitUntil([&] { return closed.size() == 1; }));
    EXPECT_EQ(unsupported.size(), 1);
}

} // namespace
