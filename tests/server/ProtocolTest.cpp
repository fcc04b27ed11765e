// Every endpoint exactly as the client sends it, and every reply
// record with its key names and JSON types, against the server on 127.0.0.1.
#include "ServerTestSupport.h"

#include "base/LifetimeBounds.h"

#include <gtest/gtest.h>

using namespace servertest;

namespace {

class ServerProtocol : public ::testing::Test {
protected:
    InProcessServer server;
    Api api{server.port(), newToken()};

    std::int64_t now() { return server.clock().nowMs(); }
    std::string shareUrl(const std::string &id) { return server.url() + "/v/" + id; }
};

// A record as compact JSON with its keys in order, so that a reply compares
// whole: every key, its type and its value.
std::string record(json::Object o)
{
    return json::serialize(std::move(o));
}

} // namespace

TEST_F(ServerProtocol, CreateAnswersACreateResponseForEveryOptionalKeyAndLifetime)
{
    // The first is exactly what the client sends when it has no duration, size
    // or lifetime (30 days). Unknown keys are ignored; the lifetime counts from
    // now, "forever" never ends.
    const std::vector<std::pair<std::string, std::int64_t>> cases = {
        {"", now() + LifetimeBounds::kDefaultSeconds * 1000},
        {R"(,"durationMs":1500,"width":1920,"height":1080,"lifetime":86400)", now() + 86400LL * 1000},
        {R"(,"lifetime":"forever")", kForeverExpiresAtMs},
        {R"(,"lifetime":3600)", now() + 3600LL * 1000},
        {R"(,"lifetime":315360000)", now() + 315360000LL * 1000},
        {R"(,"somethingNew":[1,2])", now() + LifetimeBounds::kDefaultSeconds * 1000}};
    for (const auto &[extra, expiresAt] : cases) {
        SCOPED_TRACE(extra);
        const Http r =
            api.post("/api/videos", R"({"title":"Mivra 2024-05-01 10.00.00","contentType":"video/mp4")" + extra + "}");
        const std::string id = r.id();
        EXPECT_EQ(std::tuple(r.status, r.header("Content-Type"), json::serialize(r.json())),
                  std::tuple(201, "application/json",
                             record({{"id", id},
                                     {"partSize", kServerPartSize},
                                     {"shareUrl", shareUrl(id)},
                                     {"expiresAt", expiresAt}})));
    }
}

TEST_F(ServerProtocol, SingleUploadsOfMp4FilesAnswerVideoInfoAndOthersAreRefused)
{
    // Exactly one part is the client's single path. What the server cannot
    // serve gets no share link: empty, text, or too short to be an MP4.
    for (const std::string &body : {videoBytes(std::size_t(kServerPartSize)), std::string(),
                                    std::string("not a video at all"), std::string("ftyp")}) {
        SCOPED_TRACE(body.size());
        const std::string id = api.create();
        const Http r = api.put("/api/videos/" + id, body, "video/mp4");
        const Http media = api.publicGet("/r/" + id);
        if (body.size() < 100) {
            EXPECT_EQ(std::tuple(r.status, r.json().find("error") != nullptr, media.status),
                      std::tuple(415, true, 404));
            continue;
        }
        EXPECT_EQ(json::serialize(r.json()), record({{"id", id},
                                                     {"shareUrl", shareUrl(id)},
                                                     {"expiresAt", now() + LifetimeBounds::kDefaultSeconds * 1000}}));
        EXPECT_TRUE(media.body == body);
    }
    // Parts whose first does not begin like an MP4.
    const std::string id = api.create("text in parts");
    EXPECT_EQ(
        api.complete(id, api.putParts(id, std::string(std::size_t(kServerPartSize) + 10, 't'), kServerPartSize)).status,
        415);
    EXPECT_EQ(api.publicGet("/r/" + id).status, 404);
}

TEST_F(ServerProtocol, PartsAnswerPartResponsesAndCompleteAssemblesThemInOrder)
{
    const std::string bytes = videoBytes(std::size_t(kServerPartSize) * 2 + 1234);
    const std::string id = api.create("multi", R"("durationMs":2000,"width":640,"height":480,"lifetime":172800)");
    // Parts arrive out of order, as three concurrent uploads may deliver them.
    std::vector<std::string> replies(3);
    for (int n : {3, 1, 2}) {
        const std::string slice =
            bytes.substr(std::size_t(kServerPartSize) * std::size_t(n - 1), std::size_t(kServerPartSize));
        const Http r = api.put("/api/videos/" + id + "/parts/" + std::to_string(n), slice);
        // The etag is a digest of the part's bytes.
        EXPECT_EQ(json::serialize(r.json()), record({{"partNumber", n}, {"etag", partEtag(slice)}}));
        replies[std::size_t(n - 1)] = r.body;
    }
    // The complete body as the client builds it: parts in ascending order,
    // then the optional facts; no title, no lifetime.
    std::string body = Api::completeBody(replies);
    body.pop_back();
    body += R"(,"durationMs":2000,"width":640,"height":480})";
    const Http done = api.post("/api/videos/" + id + "/complete", body);
    EXPECT_EQ(json::serialize(done.json()),
              record({{"id", id}, {"shareUrl", shareUrl(id)}, {"expiresAt", now() + 172800 * 1000}}));
    EXPECT_EQ(api.publicGet("/r/" + id).body, bytes);
}

TEST_F(ServerProtocol, RenameAndExpiryAnswerTheirRecordsAndTheListFollows)
{
    const std::string id = api.uploadMultipart(videoBytes(100), kServerPartSize, "old");
    server.clock().advance(5000);
    // Each edit and the key its answer and the list show it in.
    const std::tuple<std::string, std::string, const char *, json::Value> edits[] = {
        {"/title", R"({"title":"New name \u00e9"})", "title", "New name \xc3\xa9"},
        {"/expiry", R"({"lifetime":86400})", "expiresAt", now() + 86400 * 1000}, // counted from now
        {"/expiry", R"({"lifetime":"forever"})", "expiresAt", std::int64_t(kForeverExpiresAtMs)},
    };
    for (const auto &[path, body, key, value] : edits) {
        SCOPED_TRACE(body);
        EXPECT_EQ(json::serialize(api.post("/api/videos/" + id + path, body).json()),
                  record({{"id", id}, {key, value}}));
        const json::Value listed = api.get("/api/videos").json().find("videos")->asArray().at(0);
        EXPECT_EQ(json::serialize(*listed.find(key)), json::serialize(value));
    }
}

TEST_F(ServerProtocol, ListAnswersReadyVideosNewestFirstAndDeleteRemovesThem)
{
    const std::string a = api.uploadMultipart(videoBytes(10), kServerPartSize, "first");
    server.clock().advance(1000);
    const std::string b = api.uploadMultipart(videoBytes(10), kServerPartSize, "");
    // An upload in progress is not listed (it has no link to share yet), but can be deleted.
    const std::string pending = api.create("still uploading");
    api.put("/api/videos/" + pending + "/parts/1", "abc");
    auto item = [&](const std::string &id, const char *title, std::int64_t at) {
        return json::Object{{"id", id},        {"title", title},
                            {"createdAt", at}, {"expiresAt", at + LifetimeBounds::kDefaultSeconds * 1000},
                            {"sizeBytes", 10}, {"shareUrl", shareUrl(id)}};
    };
    const std::int64_t t0 = now() - 1000;
    EXPECT_EQ(json::serialize(api.get("/api/videos").json()),
              record({{"videos", json::Array{item(b, "", now()), item(a, "first", t0)}}}));

    for (const std::string &id : {b, pending}) {
        const std::vector<int> statuses{api.del("/api/videos/" + id).status, api.del("/api/videos/" + id).status,
                                        api.publicGet("/r/" + id).status, api.publicGet("/v/" + id).status};
        EXPECT_EQ(statuses, (std::vector<int>{204, 404, 404, 404})) << id;
    }
    EXPECT_EQ(json::serialize(api.get("/api/videos").json()), record({{"videos", json::Array{item(a, "first", t0)}}}));
    EXPECT_FALSE(std::filesystem::exists(server.dataDir() / "media" / (b + ".mp4")));
    EXPECT_FALSE(std::filesystem::exists(server.dataDir() / "uploads" / pending));
}
