// The simple endpoints and the reply rules, against the scripted server.
#include "ServiceRig.h"

TEST(UploaderRequests, EachEndpointSendsItsMethodPathBodyAndTheStoredToken)
{
    ServiceRig rig;
    QString tokenWhenSent;
    rig.server.script = [&](const RecordedRequest &) -> std::optional<ScriptedReply> {
        tokenWhenSent = rig.prefs.textValue(QStringLiteral("deviceToken")).value_or(QString());
        return std::nullopt;
    };
    run(rig.uploader->listVideos());
    run(rig.uploader->rename(QStringLiteral("vid1"), QStringLiteral("Démo \"2\"")));
    run(rig.uploader->setExpiry(QStringLiteral("vid1"), Lifetime::forever()));
    EXPECT_EQ(run(rig.uploader->setExpiry(QStringLiteral("vid1"), Lifetime::ofSeconds(86400))).expiresAtMs, 42000);
    // An id never leaves its path segment.
    run(rig.uploader->deleteVideo(QStringLiteral("../x?y#z")));

    EXPECT_EQ(
        describe(rig.server.requests),
        (QStringList{"GET /api/videos [] ", R"(POST /api/videos/vid1/title [application/json] {"title":"Démo \"2\""})",
                     R"(POST /api/videos/vid1/expiry [application/json] {"lifetime":"forever"})",
                     R"(POST /api/videos/vid1/expiry [application/json] {"lifetime":86400})",
                     "DELETE /api/videos/..%2Fx%3Fy%23z [] "}));
    // Every request carried the token, stored before the first one went.
    QSet<QByteArray> tokens;
    for (const RecordedRequest &r : rig.server.requests)
        tokens << r.header("X-Device-Token");
    EXPECT_EQ(tokens, QSet<QByteArray>{tokenWhenSent.toLatin1()});
    EXPECT_EQ(tokenWhenSent.size(), 64);
}

TEST(UploaderRequests, EachReplyEndsAsItsSuccessOrError)
{
    // Each reply to a list and to a delete: the error sentence, empty for success.
    const struct {
        const char *what;
        ScriptedReply reply;
        QString listFails, deleteFails;
    } cases[] = {
        {"404", ScriptedReply::json(404, R"({"error":"gone"})"), R"(Server returned 404: {"error":"gone"})", ""},
        {"204", ScriptedReply::json(204, {}), "The server's reply could not be read: it is not valid JSON", ""},
        // The body is quoted as it is, placeholders and all.
        {"403", ScriptedReply::json(403, R"({"error":"%1 %2"})"), R"(Server returned 403: {"error":"%1 %2"})",
         R"(Server returned 403: {"error":"%1 %2"})"},
        {"long 500", ScriptedReply::json(500, QByteArray(400, 'e')), "Server returned 500: " + QString(300, 'e'),
         "Server returned 500: " + QString(300, 'e')},
        // A 3xx that is not followed is still outside 200-299.
        {"304", ScriptedReply::json(304, {}), "Server returned 304: ", "Server returned 304: "},
        {"200 of another shape", ScriptedReply::json(200, R"({"id":"a"})"),
         R"(The server's reply could not be read: the key "videos" is missing.)", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ServiceRig rig;
        rig.server.script = [&](const RecordedRequest &) { return c.reply; };
        // The decoder's own detail follows the sentence's start.
        const QString list = failureText(rig.uploader->listVideos());
        EXPECT_TRUE(c.listFails.isEmpty() ? list.isEmpty() : list.startsWith(c.listFails)) << list.toStdString();
        EXPECT_EQ(failureText(rig.uploader->deleteVideo(QStringLiteral("old"))), c.deleteFails);
    }
}

TEST(UploaderRequests, TransportFailuresPassUpAsTheyAre)
{
    // A dropped connection, and a reply that is not HTTP (Qt's client gives up
    // on the connection itself): a transport error, never a success.
    for (const ScriptedReply &reply : {ScriptedReply::drop(), ScriptedReply::raw("SSH-2.0-OpenSSH\r\n\r\n")}) {
        ServiceRig rig;
        rig.server.script = [&](const RecordedRequest &) { return reply; };
        const TransportError e = expectFailure<TransportError>(rig.uploader->listVideos());
        EXPECT_FALSE(e.isCancellation());
        EXPECT_TRUE(e.description().endsWith('.')) << e.description().toStdString();
    }
    // Nobody listening: the port stays bound (so no test running beside this
    // one can take it) but never listens.
    QTcpSocket bound;
    ASSERT_TRUE(bound.bind(QHostAddress::LocalHost, 0));
    ServiceRig rig(ServiceRig::fastTimings(), nullptr,
                   QUrl(QStringLiteral("http://127.0.0.1:%1").arg(bound.localPort())));
    EXPECT_EQ(expectFailure<TransportError>(rig.uploader->listVideos()).code(), QNetworkReply::ConnectionRefusedError);
}

TEST(UploaderRequests, SlowAnswersAreBoundedByTheRequestAndResourceLimits)
{
    using std::chrono::milliseconds;
    const struct {
        const char *what;
        milliseconds requestTimeout, resourceTimeout;
        ScriptedReply reply;
        QString failure; // empty: the list arrives
    } cases[] = {
        {"silent", milliseconds(300), milliseconds(60000), ScriptedReply::hold(), "The server stopped answering."},
        {"well inside the time-out", milliseconds(5000), milliseconds(60000),
         ScriptedReply{ScriptedReply::Kind::respond, 200, R"({"videos":[]})", 200 /* ms */}, ""},
        {"past the resource limit", milliseconds(10000), milliseconds(300), ScriptedReply::hold(),
         "The request took too long."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ServiceRig rig({c.requestTimeout, c.resourceTimeout, ServiceRig::fastTimings().retryWait});
        rig.server.script = [&](const RecordedRequest &) { return c.reply; };
        EXPECT_EQ(failureText(rig.uploader->listVideos()), c.failure);
    }
}

TEST(UploaderRequests, OfflineRequestsWaitForTheNetworkUpToTheResourceLimit)
{
    SwitchReachability reachability;
    reachability.offline = true;
    ServiceRig rig(ServiceRig::fastTimings(), &reachability);
    auto task = rig.uploader->listVideos();
    ASSERT_TRUE(waitUntil([&] { return !rig.logLines.filter(QStringLiteral("waiting for the network")).isEmpty(); }));
    EXPECT_TRUE(rig.server.requests.isEmpty());
    reachability.setOffline(false);
    run(std::move(task));
    EXPECT_EQ(rig.server.requests.size(), 1);
    EXPECT_EQ(rig.logLines.filter(QStringLiteral("waiting for the network")).size(), 1);

    reachability.offline = true;
    ServiceRig waiting({std::chrono::seconds(10), std::chrono::milliseconds(150), ServiceRig::fastTimings().retryWait},
                       &reachability);
    expectFailure<TransportError>(waiting.uploader->listVideos());
    EXPECT_TRUE(waiting.server.requests.isEmpty());
}
