// The device token as the only credential, hostile ids and part numbers,
// oversized and malformed bodies, and broken completes.
#include "ServerTestSupport.h"

#include <gtest/gtest.h>

using namespace servertest;

namespace {

class ServerSecurity : public ::testing::Test {
protected:
    std::string raw(const std::string &request) { return rawRequest(server.port(), request); }

    InProcessServer server{[](ServerConfig &c) {
        c.partSize = 4096;
        c.maxVideoBytes = 64 * 1024;
    }};
    Api alice = server.api(newToken()), mallory = server.api(newToken());
};

} // namespace

TEST_F(ServerSecurity, AnotherDeviceSeesNothingAndChangesNothing)
{
    const std::string bytes = videoBytes(5000);
    const std::string done = alice.uploadMultipart(bytes, 4096, "alice's");
    const std::string pending = alice.create("pending");
    const std::string small = videoBytes(100);
    const std::string part = alice.put("/api/videos/" + pending + "/parts/1", small).body;

    EXPECT_TRUE(mallory.get("/api/videos").json().find("videos")->asArray().empty());
    for (const std::string &id : {done, pending}) {
        const std::vector<int> statuses{mallory.post("/api/videos/" + id + "/title", R"({"title":"pwned"})").status,
                                        mallory.post("/api/videos/" + id + "/expiry", R"({"lifetime":3600})").status,
                                        mallory.del("/api/videos/" + id).status,
                                        mallory.put("/api/videos/" + id + "/parts/1", "evil").status,
                                        mallory.put("/api/videos/" + id, "evil").status,
                                        mallory.complete(id, {part}).status};
        EXPECT_EQ(statuses, std::vector<int>(6, 404)) << id;
    }
    // The answers reveal nothing: exactly those for an id that does not exist.
    EXPECT_EQ(mallory.del("/api/videos/" + done).body, mallory.del("/api/videos/AAAAAAAAAAAAAAAAAAAAAAAA").body);

    // Alice's videos are untouched.
    EXPECT_EQ(alice.get("/api/videos").json().find("videos")->asArray().at(0).find("title")->asString(), "alice's");
    EXPECT_EQ(alice.publicGet("/r/" + done).body, bytes);
    EXPECT_EQ(alice.complete(pending, {part}).status, 200);
    EXPECT_EQ(alice.publicGet("/r/" + pending).body, small);
}

TEST_F(ServerSecurity, MissingOrMalformedTokensGet401)
{
    const std::string id = alice.create();
    // One check before routing guards every endpoint; one of each kind of body.
    const std::vector<std::pair<std::string, std::string>> endpoints = {
        {"POST", "/api/videos"}, {"PUT", "/api/videos/" + id + "/parts/1"}, {"DELETE", "/api/videos/" + id}};
    const std::vector<std::string> badTokens = {
        "",                                // missing
        std::string(31, 'a'),              // one short of the minimum
        std::string(300, 'a'),             // too long
        std::string(40, 'a') + " spaced",  // a space
        std::string(40, 'a') + "\xc3\xa9", // not ASCII
        std::string(40, 'a') + "/../x",    // path characters
        // Two tokens at once are not a token either.
        alice.token() + "\r\nX-Device-Token: " + mallory.token(),
    };
    for (const auto &[method, path] : endpoints) {
        for (const std::string &token : badTokens) {
            const std::string body = method == "POST" ? R"({"title":"x"})" : (method == "PUT" ? "abc" : "");
            const std::string answer = raw(rawHead(method, path,
                                                   (token.empty() ? "" : "X-Device-Token: " + token + "\r\n") +
                                                       "Content-Length: " + std::to_string(body.size()) + "\r\n") +
                                           body);
            EXPECT_EQ(rawStatus(answer), 401) << method << " " << path << " token [" << token << "]\n" << answer;
        }
    }
    // Nothing was changed by any of them.
    EXPECT_EQ(alice.put("/api/videos/" + id + "/parts/1", "ok").status, 200);
}

TEST_F(ServerSecurity, HostileIdsAnswer404AndReachNoFile)
{
    const std::string id = alice.uploadMultipart(videoBytes(100), 4096);
    // Ids that decode to a path out of the data folder, or to a file next to the video's.
    const std::string targets[] = {"/r/%2e%2e%2fmivra.sqlite3",
                                   "/r/" + id + "%2F..",
                                   "/r/" + id + ".mp4",
                                   "/r/%00" + id,
                                   "/v/..%2Fmivra.sqlite3",
                                   "/api/videos/%2e%2e",
                                   "/api/videos/" + id + "%2Fparts%2F1",
                                   "/r/../../etc/passwd"};
    for (const std::string &target : targets) {
        SCOPED_TRACE(target);
        for (const Http &r : {alice.get(target), alice.del(target), alice.put(target + "/parts/1", "xyz"),
                              alice.post(target + "/title", R"({"title":"x"})")}) {
            EXPECT_TRUE((r.status == 404 || r.status == 400 || r.status == 405) &&
                        r.body.find("SQLite") == std::string::npos && r.body.find("root:") == std::string::npos)
                << r.status << " " << r.body;
        }
    }
    // The real video is still there, and nothing was written outside the data folder.
    EXPECT_EQ(alice.publicGet("/r/" + id).status, 200);
    EXPECT_EQ(alice.get("/api/videos").json().find("videos")->asArray()[0].find("title")->asString(), "A video");
}

TEST_F(ServerSecurity, BadPartNumbersGet400)
{
    const std::string id = alice.create();
    for (const std::string n : {"0", "-1", "10001", "99999999999999999999", "18446744073709551617", "1.5", "01", "+1",
                                "1e3", "0x10", "%201", "1%20", "one", "%00"}) {
        const Http r = alice.put("/api/videos/" + id + "/parts/" + n, "abc");
        EXPECT_EQ(r.status, 400) << "part " << n << ": " << r.body;
    }
    EXPECT_EQ(alice.put("/api/videos/" + id + "/parts/16", "abc").status, 200); // the last that fits 64 KiB
    EXPECT_EQ(alice.put("/api/videos/" + id + "/parts/17", "abc").status, 413);
}

TEST_F(ServerSecurity, OversizedBodiesGet413)
{
    const std::string id = alice.create();
    // A JSON body over 64 KiB, declared or chunked.
    const std::string bigJson = R"({"title":"x","pad":")" + std::string(70 * 1024, 'a') + "\"}";
    EXPECT_EQ(alice.post("/api/videos", bigJson).status, 413);
    // Chunks of 4 KiB: `count` of them and the end.
    auto chunked = [&](const char *method, const std::string &target, int count) {
        std::string r = rawHead(method, target, alice.tokenHeader() + "Transfer-Encoding: chunked\r\n");
        for (int i = 0; i < count; ++i)
            r += "1000\r\n" + std::string(4096, 'a') + "\r\n";
        return rawStatus(raw(r + "0\r\n\r\n"));
    };
    EXPECT_EQ(chunked("POST", "/api/videos", 20), 413);
    // A title over 1000 characters; exactly 1000 (two-byte ones) is fine.
    const std::string title1000 = QString(1000, QChar(0xE9)).toStdString();
    EXPECT_EQ(alice.post("/api/videos", "{\"title\":\"" + title1000 + "\"}").status, 201);
    EXPECT_EQ(alice.post("/api/videos", "{\"title\":\"" + title1000 + "a\"}").status, 400);

    // A part over partSize (4096), declared or chunked; nothing is kept of it.
    EXPECT_EQ(alice.put("/api/videos/" + id + "/parts/1", std::string(4097, 'p')).status, 413);
    EXPECT_EQ(chunked("PUT", "/api/videos/" + id + "/parts/1", 2), 413);
    // With Expect: 100-continue the refusal comes before the body is sent.
    EXPECT_EQ(rawStatus(raw(rawHead("PUT", "/api/videos/" + id + "/parts/1",
                                    alice.tokenHeader() + "Content-Length: 1000000\r\nExpect: 100-continue\r\n"))),
              413);
    // A whole video over the maximum (64 KiB here); in parts, exactly the maximum is fine.
    EXPECT_EQ(alice.put("/api/videos/" + id, std::string(64 * 1024 + 1, 'v')).status, 413);
    alice.uploadMultipart(videoBytes(64 * 1024), 4096);

    std::error_code ec;
    EXPECT_TRUE(std::filesystem::is_empty(server.dataDir() / "tmp", ec));
}

TEST_F(ServerSecurity, MalformedJsonWrongTypesAndMissingKeysGet400)
{
    const std::string id = alice.create();
    // Not JSON (its syntax is the reader's own test), not an object, a key
    // missing or of the wrong type, a lifetime out of bounds or not a whole number.
    const std::string badCreate[] = {"{",
                                     "[]",
                                     "{\"title\":5}",
                                     "{\"contentType\":\"video/mp4\"}",
                                     "{\"title\":\"a\",\"contentType\":5}",
                                     "{\"title\":\"a\",\"durationMs\":\"12\"}",
                                     "{\"title\":\"a\",\"durationMs\":-1}",
                                     "{\"title\":\"a\",\"width\":1.5}",
                                     "{\"title\":\"a\",\"height\":true}",
                                     "{\"title\":\"a\",\"lifetime\":3599}",
                                     "{\"title\":\"a\",\"lifetime\":315360001}",
                                     "{\"title\":\"a\",\"lifetime\":3600.0}"};
    for (const std::string &body : badCreate) {
        const Http r = alice.post("/api/videos", body);
        const json::Value reply = r.json();
        const json::Value *error = reply.find("error");
        EXPECT_EQ(std::pair(r.status, error && error->isString() && !error->asString().empty()), std::pair(400, true))
            << body << " -> " << r.body;
    }
    EXPECT_EQ(alice.post("/api/videos", R"({"title":"a","contentType":"video/webm"})").status, 415);

    for (const char *body : {"{", "{}", "{\"title\":1}", "[\"title\"]"})
        EXPECT_EQ(alice.post("/api/videos/" + id + "/title", body).status, 400) << body;
    for (const char *body : {"{", "{}", "{\"lifetime\":null}", "{\"lifetime\":60}", "{\"lifetime\":\"1d\"}"})
        EXPECT_EQ(alice.post("/api/videos/" + id + "/expiry", body).status, 400) << body;
    for (const char *body :
         {"{", "{}", "{\"parts\":{}}", "{\"parts\":[]}", "{\"parts\":[1]}", "{\"parts\":[{\"partNumber\":1}]}",
          "{\"parts\":[{\"etag\":\"x\"}]}", "{\"parts\":[{\"partNumber\":\"1\",\"etag\":\"x\"}]}",
          "{\"parts\":[{\"partNumber\":0,\"etag\":\"x\"}]}", "{\"parts\":[{\"partNumber\":1,\"etag\":7}]}"})
        EXPECT_EQ(alice.post("/api/videos/" + id + "/complete", body).status, 400) << body;
}

TEST_F(ServerSecurity, CompleteWantsParts1ToNWithTheirEtagsAndHappensOnce)
{
    const std::string id = alice.create();
    const std::string first = videoBytes(4096);
    const std::string p1 = alice.put("/api/videos/" + id + "/parts/1", first).body;
    const std::string p2 = alice.put("/api/videos/" + id + "/parts/2", std::string(4096, '2')).body;
    // A part never uploaded.
    EXPECT_EQ(alice.complete(id, {p1, p2, R"({"partNumber":3,"etag":")" + partEtag("333") + "\"}"}).status, 400);
    const std::string p3 = alice.put("/api/videos/" + id + "/parts/3", "333").body;
    const std::string p4 = alice.put("/api/videos/" + id + "/parts/4", "4").body;
    const std::string wrong = R"({"partNumber":2,"etag":")" + partEtag("not it") + "\"}";
    const std::vector<std::vector<std::string>> refused = {
        {p1, wrong, p3},  // a wrong etag
        {p2, p1, p3},     // out of order
        {p1, p1, p2, p3}, // a part twice
        {p1, p3},         // a gap
        {p1, p2, p3, p4}, // a part in the middle shorter than partSize
    };
    for (std::size_t i = 0; i < refused.size(); ++i)
        EXPECT_EQ(alice.complete(id, refused[i]).status, 400) << "case " << i;
    // Nothing was made by the refusals.
    EXPECT_EQ(alice.publicGet("/r/" + id).status, 404);

    // Parts 1..3 with the short one last are a video; part 4 is left out.
    ASSERT_EQ(alice.complete(id, {p1, p2, p3}).status, 200);
    const std::string media = alice.publicGet("/r/" + id).body;
    EXPECT_EQ(media, first + std::string(4096, '2') + "333");
    // Another part list is refused and changes nothing; so are late parts. (The
    // same complete again gets the record: ServerRobustness.RacingRequests...)
    const std::vector<int> late{alice.complete(id, {p1}).status,
                                alice.put("/api/videos/" + id + "/parts/1", "late").status,
                                alice.put("/api/videos/" + id, "overwrite").status};
    EXPECT_EQ(late, std::vector<int>(3, 409));
    EXPECT_EQ(alice.publicGet("/r/" + id).body, media);
}
