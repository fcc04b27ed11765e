// The reply channel of the single-instance socket: requests, steering lines
// and answers, and what a bad or foreign request gets.
#include "Await.h"

#include "platform/SingleInstance.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// What a raw client hears back for `bytes`, until the app closes.
QByteArray answerTo(const QString &path, const QByteArray &bytes)
{
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(2000))
        return "not connected";
    socket.write(bytes);
    QByteArray heard;
    waitUntil([&] {
        heard += socket.readAll();
        return socket.state() == QLocalSocket::UnconnectedState;
    });
    return heard + socket.readAll();
}

TEST(ReplyChannel, RequestLinesAndAnswersGoBothWays)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("instance"));
    InstanceServer server(path);
    ASSERT_TRUE(server.listen());
    QStringList seen;
    QObject::connect(&server, &InstanceServer::requestReceived, &server, [&seen](InstanceRequest *request) {
        seen << request->command();
        request->reply({{QStringLiteral("progress"), QStringLiteral("Recording")}});
        QObject::connect(request, &InstanceRequest::lineReceived, request, [request, &seen](const QJsonObject &line) {
            seen << line.value(QStringLiteral("command")).toString();
            request->finish(0, QStringLiteral("https://share.test/v/1"));
        });
    });

    InstanceClient client;
    QList<QJsonObject> heard;
    bool closed = false;
    QObject::connect(&client, &InstanceClient::message, &client, [&](const QJsonObject &line) {
        heard << line;
        if (line.contains(QStringLiteral("progress")))
            client.send({{QStringLiteral("command"), QStringLiteral("stop")}});
    });
    QObject::connect(&client, &InstanceClient::closed, &client, [&] { closed = true; });
    ASSERT_TRUE(client.start(path, {{QStringLiteral("command"), QStringLiteral("record")}}));
    ASSERT_TRUE(waitUntil([&] { return closed; }));
    EXPECT_EQ(seen, QStringList({QStringLiteral("record"), QStringLiteral("stop")}));
    ASSERT_EQ(heard.size(), 2);
    EXPECT_EQ(heard[1].value(QStringLiteral("exit")).toInt(-1), 0);
    EXPECT_EQ(heard[1].value(QStringLiteral("out")).toString(), QStringLiteral("https://share.test/v/1"));
}

TEST(ReplyChannel, BadForeignAndOversizedRequestsGetAnAnswerNotACrash)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("instance"));
    InstanceServer server(path);
    ASSERT_TRUE(server.listen());
    int requests = 0;
    QObject::connect(&server, &InstanceServer::requestReceived, &server, [&requests](InstanceRequest *request) {
        ++requests;
        request->finish(0);
    });
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
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(answerTo(path, c.bytes), c.answer);
    }
    EXPECT_EQ(requests, 0);
    // The server still serves.
    EXPECT_EQ(answerTo(path, "MIVRA2\n{\"command\":\"links\"}\n"), QByteArray("{\"accepted\":true}\n{\"exit\":0}\n"));
}

TEST(ReplyChannel, AnAppThatTakesTheRequestButNeverAnswersCountsAsOlder)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("instance"));
    QLocalServer hung;
    ASSERT_TRUE(hung.listen(path));
    InstanceClient client;
    bool unsupported = false;
    bool closed = false;
    QObject::connect(&client, &InstanceClient::unsupported, &client, [&] { unsupported = true; });
    QObject::connect(&client, &InstanceClient::closed, &client, [&] { closed = true; });
    ASSERT_TRUE(client.start(path, {{QStringLiteral("command"), QStringLiteral("links")}}, 200));
    ASSERT_TRUE(waitUntil([&] { return closed; }));
    EXPECT_TRUE(unsupported);
}

} // namespace
