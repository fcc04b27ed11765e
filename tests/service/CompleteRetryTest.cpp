// A complete whose reply is lost is asked for again; redirects stay within
// the service's origin. Against the scripted server.
#include "ServiceRig.h"

TEST(CompleteRetry, ALostCompleteReplyIsAskedForAgainAndOnlyThat)
{
    const struct {
        const char *what;
        ScriptedReply first; // the first complete's fate; the next get the service's reply
        int lost;            // completes that meet it
        const char *failure; // empty: the upload succeeds; "*": any sentence
        int completes;
        QList<int> waits;
    } cases[] = {
        {"connection dropped", ScriptedReply::drop(), 1, "", 2, {0}},
        {"no answer in time", ScriptedReply::hold(), 1, "", 2, {0}},
        {"dropped every time", ScriptedReply::drop(), 99, "*", Uploader::kPartAttempts, {0, 1}},
        {"refused",
         ScriptedReply::json(409, R"({"error":"conflict"})"),
         99,
         "Server returned 409: {\"error\":\"conflict\"}",
         1,
         {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        // Long enough that only the held complete ever meets it, even on a
        // loaded machine under a sanitizer.
        ServiceRig rig(
            {std::chrono::milliseconds(2000), std::chrono::seconds(60), ServiceRig::fastTimings().retryWait});
        int completes = 0;
        rig.server.script = [&](const RecordedRequest &r) -> std::optional<ScriptedReply> {
            if (!r.path.endsWith("/complete") || completes++ >= c.lost)
                return std::nullopt;
            return c.first;
        };
        const QString failure = failureText(rig.uploader->upload(rig.makeFile(25), QStringLiteral("Demo"), std::nullopt,
                                                                 std::nullopt, std::nullopt, std::nullopt, {}));
        EXPECT_TRUE(*c.failure == '*' ? !failure.isEmpty() : failure == QString::fromUtf8(c.failure))
            << failure.toStdString();
        // Each try is the same request.
        const QStringList sent = describe(rig.server.requestsTo("POST", "/api/videos/vid1/complete"));
        EXPECT_EQ(sent, QStringList(c.completes, sent.value(0)));
        EXPECT_EQ(rig.retryWaits, c.waits);
        EXPECT_EQ(rig.logLines.filter(QStringLiteral("part 3/3 done")).size(), 1) << "parts are not sent again";
    }
}

TEST(CompleteRetry, RedirectsAreFollowedOnlyWithinTheOrigin)
{
    ScriptedServer elsewhere;
    const struct {
        const char *what;
        QByteArray status, location;
        QString followed; // the followed request; empty: not followed
    } cases[] = {
        {"307 keeps method and body", "307", "/moved/title", R"(POST /moved/title [application/json] {"title":"b"})"},
        {"303 turns into a GET", "303", "/moved/title", "GET /moved/title [] "},
        {"another origin", "307", elsewhere.origin().toEncoded() + "/moved/title", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ServiceRig rig;
        rig.server.script = [&](const RecordedRequest &r) -> std::optional<ScriptedReply> {
            if (r.path.startsWith("/moved"))
                return ScriptedReply::json(200, R"({"id":"a","title":"b"})");
            return ScriptedReply::raw("HTTP/1.1 " + c.status + " Moved\r\nLocation: " + c.location +
                                      "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        };
        const QString failure = failureText(rig.uploader->rename(QStringLiteral("a"), QStringLiteral("b")));
        EXPECT_TRUE(elsewhere.requests.isEmpty()) << "the device token never leaves the origin";
        EXPECT_EQ(failure.isEmpty(), !c.followed.isEmpty()) << failure.toStdString();
        EXPECT_EQ(describe(rig.server.requests.mid(1)), c.followed.isEmpty() ? QStringList() : QStringList{c.followed});
        EXPECT_EQ(rig.server.requests.last().header("X-Device-Token"), rig.server.requests[0].header("X-Device-Token"));
    }
}
