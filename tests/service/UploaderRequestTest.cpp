// The simple endpoints and the reply rules, against the scripted server.
#include "ServiceRig.h"

TEST(UploaderRequests, TokenIsStoredBeforeTheFirstRequestAndReused)
{
    ServiceRig rig;
    QString tokenWhenSent;
    rig.server.script = [&](const RecordedRequest &) -> std::optional<ScriptedReply> {
        tokenWhenSent = rig.prefs.textValue(QStringLiteral("deviceToken")).value_or(QString());
        return std::nullopt;
    };
    run(rig.uploader->listVideos());
    run(rig.uploader->rename(QStringLiteral("vid1"), QStringLiteral("T")));
    ASSERT_EQ(rig.server.requests.size(), 2);
    const QByteArray token = rig.server.requests[0].header("X-Device-Token");
    EXPECT_EQ(token.size(), 64);
    EXPECT_EQ(QString::fromLatin1(token), tokenWhenSent);
    EXPECT_EQ(rig.server.requests[1].header("X-Device-Token"), token);
}

TEST(UploaderRequests, EachEndpointSendsItsMethodPathAndBody)
{
    ServiceRig rig;
    rig.server.script = [](const RecordedRequest &r) -> std::optional<ScriptedReply> {
        if (r.method == "GET")
            return ScriptedReply::json(200, R"({"videos":[{"id":"a","expiresAt":1700000000000,"title":"One"},)"
                                            R"({"id":"b","expiresAt":1,"title":null,"views":3}]})");
        return std::nullopt;
    };
    const VideoList list = run(rig.uploader->listVideos());
    ASSERT_EQ(list.videos.size(), 2);
    EXPECT_EQ(list.videos[0].title, QStringLiteral("One"));
    EXPECT_EQ(list.videos[0].expiresAtMs, 1700000000000);
    EXPECT_FALSE(list.videos[1].title.has_value());
    EXPECT_EQ(run(rig.uploader->rename(QStringLiteral("vid1"), QStringLiteral("Démo \"2\""))).title,
              QStringLiteral("Démo \"2\""));
    run(rig.uploader->setExpiry(QStringLiteral("vid1"), Lifetime::forever()));
    EXPECT_EQ(run(rig.uploader->setExpiry(QStringLiteral("vid1"), Lifetime::ofSeconds(86400))).expiresAtMs, 42000);
    // An id never leaves its path segment.
    run(rig.uploader->deleteVideo(QStringLiteral("../x?y#z")));

    const struct {
        QByteArray method, path, contentType, body;
    } expected[] = {
        {"GET", "/api/videos", "", ""},
        {"POST", "/api/videos/vid1/title", "application/json", R"({"title":"Démo \"2\""})"},
        {"POST", "/api/videos/vid1/expiry", "application/json", R"({"lifetime":"forever"})"},
        {"POST", "/api/videos/vid1/expiry", "application/json", R"({"lifetime":86400})"},
        {"DELETE", "/api/videos/..%2Fx%3Fy%23z", "", ""},
    };
    ASSERT_EQ(rig.server.requests.size(), std::size(expected));
    for (const auto &e : expected) {
        const RecordedRequest &r = rig.server.requests[&e - expected];
        EXPECT_EQ(r.method, e.method);
        EXPECT_EQ(r.path, e.path);
        EXPECT_EQ(r.header("Content-Type"), e.contentType) << e.path.constData();
        EXPECT_EQ(r.body, e.body);
    }
}

TEST(UploaderRequests, EachReplyEndsAsItsSuccessOrError)
{
    // Each reply to a list and to a delete: the error sentence, empty for success.
    const QByteArray long400 = QByteArray(400, 'e');
    const struct {
        const char *what;
        ScriptedReply reply;
        QString listFails, deleteFails;
    } cases[] = {
        {"404", ScriptedReply::json(404, R"({"error":"gone"})"), R"(Server returned 404: {"error":"gone"})", ""},
        {"204", ScriptedReply::json(204, {}), "The server's reply could not be read: it is not valid JSON", ""},
        {"200 not JSON", ScriptedReply::json(200, "{not json"), "The server's reply could not be read: it is not valid JSON",
         ""},
        {"403", ScriptedReply::json(403, R"({"error":"no"})"), R"(Server returned 403: {"error":"no"})",
         R"(Server returned 403: {"error":"no"})"},
        {"long 500", ScriptedReply::json(500, long400), "Server returned 500: " + QString(QByteArray(300, 'e')),
         "Server returned 500: " + QString(QByteArray(300, 'e'))},
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
    // Nobody listening.
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    const quint16 port = closed.serverPort();
    closed.close();
    MemoryPreferenceStore prefs;
    Uploader nowhere(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port)), prefs,
                     UploaderOptions{ServiceRig::fastTimings(), [](const QString &) {}, nullptr});
    EXPECT_EQ(expectFailure<TransportError>(nowhere.listVideos()).code(), QNetworkReply::ConnectionRefusedError);
}

TEST(UploaderRequests, SlowAnswersAreBoundedByTheRequestAndResourceLimits)
{
    using std::chrono::milliseconds;
    const struct {
        const char *what;
        milliseconds requestTimeout, resourceTimeout;
        ScriptedReply reply;
        QString failure;
    } cases[] = {
        {"silent", milliseconds(300), milliseconds(60000), ScriptedReply::hold(), "*"},
        {"just inside the time-out", milliseconds(2000), milliseconds(60000),
         ScriptedReply::json(200, R"({"videos":[]})", 200), ""},
        {"past the resource limit", milliseconds(10000), milliseconds(300),
         ScriptedReply::json(200, R"({"videos":[]})", 3000), "The request took too long."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        UploaderTimings timings = ServiceRig::fastTimings();
        timings.requestTimeout = c.requestTimeout;
        timings.resourceTimeout = c.resourceTimeout;
        ServiceRig rig(timings);
        rig.server.script = [&](const RecordedRequest &) { return c.reply; };
        if (c.failure.isEmpty()) {
            EXPECT_EQ(run(rig.uploader->listVideos()).videos.size(), 0);
            continue;
        }
        const TransportError e = expectFailure<TransportError>(rig.uploader->listVideos());
        EXPECT_EQ(e.code(), QNetworkReply::TimeoutError);
        if (c.failure != QLatin1String("*"))
            EXPECT_EQ(e.description(), c.failure);
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
    EXPECT_EQ(run(std::move(task)).videos.size(), 0);
    EXPECT_EQ(rig.server.requests.size(), 1);
    EXPECT_EQ(rig.logLines.filter(QStringLiteral("waiting for the network")).size(), 1);

    reachability.offline = true;
    UploaderTimings timings = ServiceRig::fastTimings();
    timings.resourceTimeout = std::chrono::milliseconds(150);
    ServiceRig waiting(timings, &reachability);
    expectFailure<TransportError>(waiting.uploader->listVideos());
    EXPECT_TRUE(waiting.server.requests.isEmpty());
}
