// The simple endpoints and the reply rules, against the scripted server.
#include "ServiceRig.h"

#include <QJsonDocument>
#include <QJsonObject>

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

TEST(UploaderRequests, TwoFirstRequestsAtOnceSendTheSameToken)
{
    ServiceRig rig;
    auto a = rig.uploader->listVideos();
    auto b = rig.uploader->setExpiry(QStringLiteral("vid1"), Lifetime::forever());
    run(std::move(a));
    run(std::move(b));
    ASSERT_EQ(rig.server.requests.size(), 2);
    EXPECT_EQ(rig.server.requests[0].header("X-Device-Token"), rig.server.requests[1].header("X-Device-Token"));
    EXPECT_EQ(rig.prefs.writes, 1);
}

TEST(UploaderRequests, ListIsAPlainGetDecodedStrictly)
{
    ServiceRig rig;
    rig.server.script = [](const RecordedRequest &) {
        return ScriptedReply::json(200, R"({"videos":[{"id":"a","expiresAt":1700000000000,"title":"One"},)"
                                        R"({"id":"b","expiresAt":1,"title":null,"views":3}]})");
    };
    const VideoList list = run(rig.uploader->listVideos());
    ASSERT_EQ(list.videos.size(), 2);
    EXPECT_EQ(list.videos[0].title, QStringLiteral("One"));
    EXPECT_EQ(list.videos[0].expiresAtMs, 1700000000000);
    EXPECT_FALSE(list.videos[1].title.has_value());
    const RecordedRequest &r = rig.server.requests.at(0);
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.path, "/api/videos");
    EXPECT_TRUE(r.header("Content-Type").isEmpty());
    EXPECT_TRUE(r.body.isEmpty());
}

TEST(UploaderRequests, RenameAndExpirySendTheirOneKeyBodies)
{
    ServiceRig rig;
    const TitleResponse renamed = run(rig.uploader->rename(QStringLiteral("vid1"), QStringLiteral("Démo \"2\"")));
    EXPECT_EQ(renamed.title, QStringLiteral("Démo \"2\""));
    run(rig.uploader->setExpiry(QStringLiteral("vid1"), Lifetime::forever()));
    const KeepResponse kept = run(rig.uploader->setExpiry(QStringLiteral("vid1"), Lifetime::ofSeconds(86400)));
    EXPECT_EQ(kept.expiresAtMs, 42000);

    ASSERT_EQ(rig.server.requests.size(), 3);
    EXPECT_EQ(rig.server.requests[0].method, "POST");
    EXPECT_EQ(rig.server.requests[0].path, "/api/videos/vid1/title");
    EXPECT_EQ(rig.server.requests[0].header("Content-Type"), "application/json");
    EXPECT_EQ(QJsonDocument::fromJson(rig.server.requests[0].body).object().value("title").toString(),
              QStringLiteral("Démo \"2\""));
    EXPECT_EQ(rig.server.requests[1].path, "/api/videos/vid1/expiry");
    EXPECT_EQ(rig.server.requests[1].body, R"({"lifetime":"forever"})");
    EXPECT_EQ(rig.server.requests[2].body, R"({"lifetime":86400})");
}

TEST(UploaderRequests, IdsCannotEscapeTheirPathSegment)
{
    ServiceRig rig;
    run(rig.uploader->deleteVideo(QStringLiteral("../x?y#z")));
    EXPECT_EQ(rig.server.requests.at(0).path, "/api/videos/..%2Fx%3Fy%23z");
}

TEST(UploaderRequests, DeleteTakes404AsDoneButNotOtherFailures)
{
    ServiceRig rig;
    int status = 404;
    rig.server.script = [&](const RecordedRequest &) { return ScriptedReply::json(status, R"({"error":"gone"})"); };
    run(rig.uploader->deleteVideo(QStringLiteral("old")));
    const RecordedRequest &r = rig.server.requests.at(0);
    EXPECT_EQ(r.method, "DELETE");
    EXPECT_EQ(r.path, "/api/videos/old");
    EXPECT_TRUE(r.header("Content-Type").isEmpty());
    EXPECT_EQ(r.header("X-Device-Token").size(), 64);

    status = 204;
    run(rig.uploader->deleteVideo(QStringLiteral("old")));
    status = 200;
    run(rig.uploader->deleteVideo(QStringLiteral("old"))); // body ignored, even if not JSON

    status = 403;
    const UploadError e = expectFailure<UploadError>(rig.uploader->deleteVideo(QStringLiteral("theirs")));
    EXPECT_EQ(e.kind(), UploadError::Kind::http);
    EXPECT_EQ(e.statusCode(), 403);
    EXPECT_EQ(e.description(), QStringLiteral("Server returned 403: {\"error\":\"gone\"}"));
}

TEST(UploaderRequests, ErrorRepliesCarryAnExcerptOfTheirBody)
{
    ServiceRig rig;
    QByteArray body = QByteArray(400, 'e');
    rig.server.script = [&](const RecordedRequest &) { return ScriptedReply::json(500, body); };
    UploadError e = expectFailure<UploadError>(rig.uploader->listVideos());
    EXPECT_EQ(e.description(), QStringLiteral("Server returned 500: ") + QString(QByteArray(300, 'e')));

    body = QByteArray(299, 'e') + "\xE2\x82\xAC"; // "€" cut after its first byte
    e = expectFailure<UploadError>(rig.uploader->listVideos());
    EXPECT_EQ(e.description(), QStringLiteral("Server returned 500: "));

    // 3xx that is not followed is still outside 200-299.
    rig.server.script = [&](const RecordedRequest &) { return ScriptedReply::json(304, {}); };
    EXPECT_EQ(expectFailure<UploadError>(rig.uploader->listVideos()).statusCode(), 304);
}

TEST(UploaderRequests, SuccessWithTheWrongBodyFailsWithTheDecoderError)
{
    ServiceRig rig;
    QByteArray body;
    rig.server.script = [&](const RecordedRequest &) { return ScriptedReply::json(200, body); };
    expectFailure<ReplyDecodingError>(rig.uploader->rename(QStringLiteral("a"), QStringLiteral("b")));
    body = "{not json";
    expectFailure<ReplyDecodingError>(rig.uploader->listVideos());
    body = R"({"id":"a"})";
    expectFailure<ReplyDecodingError>(rig.uploader->setExpiry(QStringLiteral("a"), Lifetime::forever()));
}

TEST(UploaderRequests, TransportFailuresPassUpAsTheyAre)
{
    ServiceRig rig;
    rig.server.script = [](const RecordedRequest &) { return ScriptedReply::drop(); };
    TransportError dropped = expectFailure<TransportError>(rig.uploader->listVideos());
    EXPECT_FALSE(dropped.isCancellation());
    EXPECT_TRUE(dropped.description().endsWith('.')) << dropped.description().toStdString();

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

TEST(UploaderRequests, AReplyThatIsNotHttpFailsAsTheClientReportsIt)
{
    // Qt's HTTP client gives up on the connection itself; that transport
    // error is what the caller sees, never a success.
    ServiceRig rig;
    rig.server.script = [](const RecordedRequest &) { return ScriptedReply::raw("SSH-2.0-OpenSSH\r\n\r\n"); };
    const TransportError e = expectFailure<TransportError>(rig.uploader->listVideos());
    EXPECT_FALSE(e.isCancellation());
}

TEST(UploaderRequests, ASilentServerTimesOut)
{
    UploaderTimings timings = ServiceRig::fastTimings();
    timings.requestTimeout = std::chrono::milliseconds(300);
    ServiceRig rig(timings);
    rig.server.script = [](const RecordedRequest &) { return ScriptedReply::hold(); };
    const TransportError e = expectFailure<TransportError>(rig.uploader->listVideos());
    EXPECT_EQ(e.code(), QNetworkReply::TimeoutError);
    EXPECT_FALSE(e.isCancellation());
}

TEST(UploaderRequests, AnswerJustInsideTheTimeOutIsFine)
{
    UploaderTimings timings = ServiceRig::fastTimings();
    timings.requestTimeout = std::chrono::milliseconds(2000);
    ServiceRig rig(timings);
    rig.server.script = [](const RecordedRequest &) { return ScriptedReply::json(200, R"({"videos":[]})", 200); };
    EXPECT_EQ(run(rig.uploader->listVideos()).videos.size(), 0);
}

TEST(UploaderRequests, OfflineRequestsWaitForTheNetwork)
{
    SwitchReachability reachability;
    reachability.offline = true;
    ServiceRig rig(ServiceRig::fastTimings(), &reachability);
    auto task = rig.uploader->listVideos();
    ASSERT_TRUE(
        waitUntil([&] { return !rig.logLinesContaining(QStringLiteral("waiting for the network")).isEmpty(); }));
    EXPECT_TRUE(rig.server.requests.isEmpty());
    reachability.setOffline(false);
    EXPECT_EQ(run(std::move(task)).videos.size(), 0);
    EXPECT_EQ(rig.server.requests.size(), 1);
    EXPECT_EQ(rig.logLinesContaining(QStringLiteral("waiting for the network")).size(), 1);
}

TEST(UploaderRequests, OfflineWaitEndsAtTheResourceLimit)
{
    SwitchReachability reachability;
    reachability.offline = true;
    UploaderTimings timings = ServiceRig::fastTimings();
    timings.resourceTimeout = std::chrono::milliseconds(150);
    ServiceRig rig(timings, &reachability);
    expectFailure<TransportError>(rig.uploader->listVideos());
    EXPECT_TRUE(rig.server.requests.isEmpty());
}

TEST(UploaderRequests, ARequestThatRunsPastTheResourceLimitIsStopped)
{
    UploaderTimings timings = ServiceRig::fastTimings();
    timings.resourceTimeout = std::chrono::milliseconds(300);
    ServiceRig rig(timings);
    rig.server.script = [](const RecordedRequest &) { return ScriptedReply::json(200, R"({"videos":[]})", 3000); };
    const TransportError e = expectFailure<TransportError>(rig.uploader->listVideos());
    EXPECT_EQ(e.code(), QNetworkReply::TimeoutError);
    EXPECT_EQ(e.description(), QStringLiteral("The request took too long."));
}
