// A complete whose reply is lost is asked for again; redirects stay within
// the service's origin. Against the scripted server.
#include "ServiceRig.h"

TEST(CompleteRetry, ALostCompleteReplyIsAskedForAgainAndOnlyThat)
{
    const struct {
        const char *what;
        ScriptedReply first; // the first complete's fate; the next get the service's reply
        int lost;            // completes that meet it
        const char *failure; // empty: the upload succeeds
        QList<int> waits;
    } cases[] = {
        {"connection dropped", ScriptedReply::drop(), 1, "", {0}},
        {"no answer in time", ScriptedReply::hold(), 1, "", {0}},
        {"dropped every time", ScriptedReply::drop(), 99, "*", {0, 1}},
        {"refused",
         ScriptedReply::json(409, R"({"error":"conflict"})"),
         99,
         "Server returned 409: {\"error\":\"conflict\"}",
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
        const auto sent = rig.server.requestsTo("POST", "/api/videos/vid1/complete");
        if (*c.failure == 0) {
            EXPECT_EQ(failure, QString());
            ASSERT_EQ(sent.size(), 2);
            EXPECT_EQ(sent[1].body, sent[0].body);
        } else if (*c.failure == '*') {
            EXPECT_FALSE(failure.isEmpty());
            EXPECT_EQ(sent.size(), Uploader::kPartAttempts);
        } else {
            EXPECT_EQ(failure, QString::fromUtf8(c.failure));
            EXPECT_EQ(sent.size(), 1);
        }
        EXPECT_EQ(rig.retryWaits, c.waits);
        EXPECT_EQ(rig.logLines.filter(QStringLiteral("part 3/3 done")).size(), 1) << "parts are not sent again";
        rig.server.releaseAll();
    }
}

TEST(CompleteRetry, RedirectsAreFollowedOnlyWithinTheOrigin)
{
    ScriptedServer elsewhere;
    const struct {
        const char *what;
        QByteArray status, location;
        QByteArray method; // of the followed request; empty: not followed
        bool bodyKept;
    } cases[] = {
        {"307 keeps method and body", "307", "/moved/title", "POST", true},
        {"303 turns into a GET", "303", "/moved/title", "GET", false},
        {"another origin", "307", elsewhere.origin().toEncoded() + "/moved/title", "", false},
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
        if (c.method.isEmpty()) {
            EXPECT_FALSE(failure.isEmpty());
            EXPECT_EQ(rig.server.requests.size(), 1);
            continue;
        }
        EXPECT_EQ(failure, QString());
        ASSERT_EQ(rig.server.requests.size(), 2);
        const RecordedRequest &followed = rig.server.requests[1];
        EXPECT_EQ(followed.method, c.method);
        EXPECT_EQ(followed.body, c.bodyKept ? rig.server.requests[0].body : QByteArray());
        EXPECT_EQ(followed.header("X-Device-Token"), rig.server.requests[0].header("X-Device-Token"));
    }
}
