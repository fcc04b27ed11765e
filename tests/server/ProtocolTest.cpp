// Every endpoint exactly as the client sends it, and every reply
// record with its key names and JSON types, against the server on 127.0.0.1.
#include "ServerTestSupport.h"

#include "Crypto.h"
#include "base/LifetimeBounds.h"

#include <gtest/gtest.h>

using namespace servertest;

namespace {

// Each key present with its JSON type: true for an integer, false for a string.
void expectShape(const json::Value &v, std::initializer_list<std::pair<const char *, bool>> keys)
{
    for (const auto &[key, integer] : keys) {
        const json::Value *m = v.find(key);
        ASSERT_NE(m, nullptr) << key << " missing in " << json::serialize(v);
        EXPECT_TRUE(integer ? m->isInteger() : m->isString()) << key << " has the wrong type in " << json::serialize(v);
    }
}

class ServerProtocol : public ::testing::Test {
protected:
    InProcessServer server;
    Api api{server.port(), newToken()};
    std::int64_t partSize = InProcessServer::Options{}.partSize;

    std::int64_t now() { return server.clock().nowMs(); }
};

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
        ASSERT_EQ(r.status, 201) << r.body;
        EXPECT_EQ(r.header("Content-Type"), "application/json");
        const json::Value v = r.json();
        expectShape(v, {{"id", false}, {"partSize", true}, {"shareUrl", false}, {"expiresAt", true}});
        const std::string id = v.find("id")->asString();
        EXPECT_TRUE(crypto::isVideoId(id)) << id;
        EXPECT_EQ(v.find("partSize")->asInteger(), partSize);
        EXPECT_EQ(v.find("shareUrl")->asString(), server.url() + "/v/" + id);
        EXPECT_EQ(v.find("expiresAt")->asInteger(), expiresAt);
    }
}

TEST_F(ServerProtocol, SingleUploadsOfMp4FilesAnswerVideoInfoAndOthersAreRefused)
{
    // Exactly one part is the client's single path. What the server cannot
    // serve gets no share link: empty, text, or too short to be an MP4.
    for (const std::string &body :
         {videoBytes(std::size_t(partSize)), std::string(), std::string("not a video at all"), std::string("ftyp")}) {
        SCOPED_TRACE(body.size());
        const std::string id = api.create();
        const Http r = api.put("/api/videos/" + id, body, "video/mp4");
        const Http media = api.publicGet("/r/" + id);
        if (body.size() < 100) {
            EXPECT_EQ(r.status, 415);
            EXPECT_NE(r.json().find("error"), nullptr);
            EXPECT_EQ(media.status, 404);
            continue;
        }
        ASSERT_EQ(r.status, 200) << r.body;
        const json::Value v = r.json();
        expectShape(v, {{"id", false}, {"shareUrl", false}, {"expiresAt", true}});
        EXPECT_EQ(v.find("id")->asString(), id);
        EXPECT_EQ(v.find("shareUrl")->asString(), server.url() + "/v/" + id);
        EXPECT_EQ(media.header("Content-Type"), "video/mp4");
        EXPECT_TRUE(media.body == body);
    }
    // Parts whose first does not begin like an MP4.
    const std::string id = api.create("text in parts");
    EXPECT_EQ(api.complete(id, api.putParts(id, std::string(std::size_t(partSize) + 10, 't'), partSize)).status, 415);
    EXPECT_EQ(api.publicGet("/r/" + id).status, 404);
}

TEST_F(ServerProtocol, PartsAnswerPartResponsesAndCompleteAssemblesThemInOrder)
{
    const std::string bytes = videoBytes(std::size_t(partSize) * 2 + 1234);
    const std::string id = api.create("multi", R"("durationMs":2000,"width":640,"height":480,"lifetime":172800)");
    // Parts arrive out of order, as three concurrent uploads may deliver them.
    std::vector<std::string> replies(3);
    for (int n : {3, 1, 2}) {
        const std::string slice = bytes.substr(std::size_t(partSize) * std::size_t(n - 1), std::size_t(partSize));
        const Http r = api.put("/api/videos/" + id + "/parts/" + std::to_string(n), slice);
        ASSERT_EQ(r.status, 200) << r.body;
        const json::Value v = r.json();
        expectShape(v, {{"partNumber", true}, {"etag", false}});
        EXPECT_EQ(v.find("partNumber")->asInteger(), n);
        EXPECT_EQ(v.find("etag")->asString(), partEtag(slice)); // a digest of the part's bytes
        replies[std::size_t(n - 1)] = r.body;
    }
    // The complete body as the client builds it: parts in ascending order,
    // then the optional facts; no title, no lifetime.
    std::string body = Api::completeBody(replies);
    body.pop_back();
    body += R"(,"durationMs":2000,"width":640,"height":480})";
    const Http done = api.post("/api/videos/" + id + "/complete", body);
    ASSERT_EQ(done.status, 200) << done.body;
    const json::Value v = done.json();
    expectShape(v, {{"id", false}, {"shareUrl", false}, {"expiresAt", true}});
    EXPECT_EQ(v.find("id")->asString(), id);
    EXPECT_EQ(v.find("expiresAt")->asInteger(), now() + 172800LL * 1000);

    EXPECT_EQ(api.publicGet("/r/" + id).body, bytes);
}

TEST(ServerProtocolParts, AreNumberedUpTo10000WhenTheVideoMayBeThatLarge)
{
    InProcessServer server({.partSize = 1024 * 1024, .maxVideoBytes = 10000LL * 1024 * 1024});
    const Api api = server.api(newToken());
    const std::string id = api.create();
    EXPECT_EQ(api.put("/api/videos/" + id + "/parts/10000", "last").status, 200);
    EXPECT_EQ(api.put("/api/videos/" + id + "/parts/10001", "x").status, 400);
    // The upload's file is sparse: part 10000 alone does not fill the disk.
    EXPECT_LT(std::filesystem::file_size(server.dataDir() / "uploads" / id), 10000ULL * 1024 * 1024 + 10);
}

TEST_F(ServerProtocol, RenameAndExpiryAnswerTheirRecordsAndTheListFollows)
{
    const std::string id = api.uploadMultipart(videoBytes(100), partSize, "old");
    server.clock().advance(5000);
    // Each edit, the keys of its answer, and the key the list shows it in.
    const struct {
        std::string path, body;
        const char *key;
        json::Value value;
    } edits[] = {
        {"/title", R"({"title":"New name \u00e9"})", "title", json::Value("New name \xc3\xa9")},
        {"/expiry", R"({"lifetime":86400})", "expiresAt",
         json::Value(std::int64_t(now() + 86400LL * 1000))}, // counted from now
        {"/expiry", R"({"lifetime":"forever"})", "expiresAt", json::Value(std::int64_t(kForeverExpiresAtMs))},
    };
    for (const auto &e : edits) {
        const Http r = api.post("/api/videos/" + id + e.path, e.body);
        ASSERT_EQ(r.status, 200) << e.body << r.body;
        const json::Value v = r.json();
        expectShape(v, {{"id", false}, {e.key, e.value.isInteger()}});
        EXPECT_EQ(v.find("id")->asString(), id);
        EXPECT_EQ(json::serialize(*v.find(e.key)), json::serialize(e.value)) << e.body;
        const json::Value listed = api.get("/api/videos").json().find("videos")->asArray().at(0);
        EXPECT_EQ(json::serialize(*listed.find(e.key)), json::serialize(e.value)) << e.body;
    }
}

TEST_F(ServerProtocol, ListAnswersReadyVideosNewestFirstAndDeleteRemovesThem)
{
    const std::string a = api.uploadMultipart(videoBytes(10), partSize, "first");
    server.clock().advance(1000);
    const std::string b = api.uploadMultipart(videoBytes(10), partSize, "");
    // An upload in progress is not listed (it has no link to share yet), but can be deleted.
    const std::string pending = api.create("still uploading");
    api.put("/api/videos/" + pending + "/parts/1", "abc");
    auto listed = [&] {
        std::vector<std::pair<std::string, std::string>> items;
        const json::Value list = api.get("/api/videos").json();
        for (const json::Value &item : list.find("videos")->asArray()) {
            expectShape(item, {{"id", false}, {"expiresAt", true}, {"title", false}});
            items.emplace_back(item.find("id")->asString(), item.find("title")->asString());
        }
        return items;
    };
    EXPECT_EQ(listed(), (std::vector<std::pair<std::string, std::string>>{{b, ""}, {a, "first"}}));

    for (const std::string &id : {b, pending}) {
        EXPECT_EQ(api.del("/api/videos/" + id).status, 204);
        EXPECT_EQ(api.del("/api/videos/" + id).status, 404);
        EXPECT_EQ(api.publicGet("/r/" + id).status, 404);
        EXPECT_EQ(api.publicGet("/v/" + id).status, 404);
    }
    EXPECT_EQ(listed(), (std::vector<std::pair<std::string, std::string>>{{a, "first"}}));
    EXPECT_FALSE(std::filesystem::exists(server.dataDir() / "media" / (b + ".mp4")));
    EXPECT_FALSE(std::filesystem::exists(server.dataDir() / "uploads" / pending));
}

TEST_F(ServerProtocol, SharePageShowsTheVideo)
{
    const std::string id = api.uploadMultipart(videoBytes(300), partSize, "Team update");
    // The page's markup is checked where it is made and in the browser.
    const Http page = api.publicGet("/v/" + id);
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.header("Content-Type"), "text/html; charset=utf-8");
    EXPECT_NE(page.header("Content-Security-Policy").find("default-src 'none'"), std::string::npos);
    EXPECT_NE(page.body.find("og:video\" content=\"" + server.url() + "/r/" + id), std::string::npos);

    const Http gone = api.publicGet("/v/AAAAAAAAAAAAAAAAAAAAAAAA");
    EXPECT_EQ(gone.status, 404);
    EXPECT_NE(gone.body.find("not available"), std::string::npos);
}

TEST(ServerProtocolOrigin, ShareLinksUseThePublicOrigin)
{
    InProcessServer server({.publicOrigin = "https://videos.example.com"});
    const Http r = server.api(newToken()).post("/api/videos", R"({"title":"t","contentType":"video/mp4"})");
    const std::string id = r.json().find("id")->asString();
    EXPECT_EQ(r.json().find("shareUrl")->asString(), "https://videos.example.com/v/" + id);
}

TEST(ServerProcessStart, PrintsTheBoundAddressFirstAndStopsOnSigterm)
{
    TempDir dir;
    ServerProcess p(dir.path() / "data");
    ASSERT_TRUE(p.started());
    Api api(p.port(), newToken());
    EXPECT_EQ(api.publicGet("/healthz").status, 200);
    api.create();
    // A second server on the same data folder refuses to start.
    EXPECT_NE(std::system((ServerProcess::binary().string() + " --listen 127.0.0.1:0 --data '" +
                           (dir.path() / "data").string() + "' >/dev/null 2>&1")
                              .c_str()),
              0);
    const int status = p.terminate();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << "\n" << p.log();
    EXPECT_NE(p.log().find("POST /api/videos 201"), std::string::npos) << p.log(); // one line per request
}
