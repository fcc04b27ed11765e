// Expiry and the sweeper, with the clock injected: expired videos are gone
// everywhere at once, and their rows and files are removed by the sweeper and
// at start-up; uploads never completed go after the time-out.
#include "Await.h"
#include "ServerTestSupport.h"

#include "SqliteMetadata.h"

#include <gtest/gtest.h>

using namespace servertest;
namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kHour = 3600LL * 1000;
constexpr std::int64_t kDay = 24 * kHour;

class ServerSweeper : public ::testing::Test {
protected:
    InProcessServer server;
    Api api{server.port(), newToken()};

    fs::path media(const std::string &id) { return server.dataDir() / "media" / (id + ".mp4"); }
    fs::path upload(const std::string &id) { return server.dataDir() / "uploads" / id; }
};

} // namespace

TEST_F(ServerSweeper, AnExpiredVideoIsGoneEverywhereThenSweptAway)
{
    const std::string id = api.uploadMultipart(videoBytes(100), 4096, "short-lived", R"("lifetime":3600)");
    const std::string keeper = api.uploadMultipart(videoBytes(100), 4096, "keeper"); // 30 days
    const std::string renewed = api.uploadMultipart(videoBytes(100), 4096, "renewed", R"("lifetime":3600)");
    const std::string forever = api.uploadMultipart(videoBytes(100), 4096, "forever", R"("lifetime":"forever")");
    server.clock().advance(kHour / 2);
    // A new lifetime counts from now, not from the upload.
    ASSERT_EQ(api.post("/api/videos/" + renewed + "/expiry", R"({"lifetime":3600})").status, 200);
    server.clock().advance(kHour / 2 - 1);
    EXPECT_EQ(api.publicGet("/r/" + id).status, 200);

    server.clock().advance(1); // exactly at expiresAt; too late to keep it
    const std::vector<int> statuses{api.publicGet("/r/" + id).status, api.publicGet("/v/" + id).status,
                                    api.post("/api/videos/" + id + "/title", R"({"title":"x"})").status,
                                    api.post("/api/videos/" + id + "/expiry", R"({"lifetime":86400})").status,
                                    api.del("/api/videos/" + id).status};
    EXPECT_EQ(statuses, std::vector<int>(5, 404));
    EXPECT_EQ(api.get("/api/videos").json().find("videos")->asArray().size(), 3u);
    EXPECT_TRUE(fs::exists(media(id))); // not swept yet

    const std::int64_t removed = server.service().sweep().expiredRemoved;
    EXPECT_EQ(std::tuple(removed, fs::exists(media(id)), bool(server.service().metadata().findVideo(id)),
                         fs::exists(media(keeper))),
              std::tuple(1, false, false, true));
    EXPECT_EQ(api.publicGet("/r/" + renewed).status, 200);
    server.clock().advance(kHour / 2);
    EXPECT_EQ(server.service().sweep().expiredRemoved, 1); // the renewed one, an hour after its renewal
    // Forever outlives every clock.
    server.clock().advance(200LL * 365 * kDay);
    EXPECT_EQ(server.service().sweep().expiredRemoved, 1); // the keeper
    EXPECT_EQ(api.publicGet("/r/" + forever).status, 200);
}

TEST_F(ServerSweeper, UploadsNeverCompletedGoAfterTheTimeout)
{
    const std::string stale = api.create("stale");
    ASSERT_EQ(api.put("/api/videos/" + stale + "/parts/1", "abc").status, 200);
    server.clock().advance(kDay - 1000);
    const std::string fresh = api.create("fresh");
    ASSERT_EQ(api.put("/api/videos/" + fresh + "/parts/1", "def").status, 200);
    const std::string finished = api.uploadMultipart(videoBytes(100), 4096, "finished");

    EXPECT_EQ(server.service().sweep().staleUploadsRemoved, 0);
    server.clock().advance(1000); // 24 h after the first create
    // Gone at once for the client...
    EXPECT_EQ(api.put("/api/videos/" + stale + "/parts/2", "x").status, 404);
    // ...and removed by the sweeper.
    const std::int64_t removed = server.service().sweep().staleUploadsRemoved;
    EXPECT_EQ(std::tuple(removed, fs::exists(upload(stale)), bool(server.service().metadata().findVideo(stale)),
                         fs::exists(upload(fresh))),
              std::tuple(1, false, false, true));
    EXPECT_EQ(api.put("/api/videos/" + fresh + "/parts/2", "ghi").status, 200);
    EXPECT_EQ(api.publicGet("/r/" + finished).status, 200); // complete videos are not uploads
}

TEST(ServerSweeperThread, RunsOnItsOwn)
{
    InProcessServer server([](ServerConfig &c) { c.sweepIntervalMs = 50; });
    const Api api = server.api(newToken());
    const std::string id = api.create("t", R"("lifetime":3600)");
    api.put("/api/videos/" + id, videoBytes(100), "video/mp4");
    server.clock().advance(kHour);
    // The row goes first, the file right after it.
    EXPECT_TRUE(waitUntil(
        [&] {
            return !server.service().metadata().findVideo(id) &&
                   !fs::exists(server.dataDir() / "media" / (id + ".mp4"));
        },
        30000))
        << "the sweeper thread did not remove the expired video";
}

// The real process: its share links name the public origin it is given; it
// keeps a second server off its data folder, stops cleanly on SIGTERM, and
// sweeps at start what expired while it was stopped.
TEST(ServerProcessLife, RefusesASecondServerStopsOnSigtermAndSweepsWhatExpiredMeanwhile)
{
    TempDir dir;
    const fs::path data = dir.path() / "data";
    std::string id;
    {
        ServerProcess p(data, {"--public-origin", "https://videos.example.com"});
        ASSERT_TRUE(p.started());
        Api api(p.port(), newToken());
        const Http made = api.post("/api/videos", R"({"title":"t","lifetime":3600})");
        id = made.id();
        EXPECT_EQ(made.json().find("shareUrl")->asString(), "https://videos.example.com/v/" + id); // links name it
        ASSERT_EQ(api.put("/api/videos/" + id, videoBytes(100), "video/mp4").status, 200);
        EXPECT_NE(std::system((ServerProcess::binary().string() + " --listen 127.0.0.1:0 --data '" + data.string() +
                               "' >/dev/null 2>&1")
                                  .c_str()),
                  0);
        const int status = p.terminate();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << "\n" << p.log();
        EXPECT_NE(p.log().find("POST /api/videos 201"), std::string::npos) << p.log(); // one line per request
    }
    // The video expires while no server runs.
    ASSERT_TRUE(SqliteMetadata(data / "mivra.sqlite3").setExpiry(id, 1));
    ServerProcess p(data);
    ASSERT_TRUE(p.started());
    EXPECT_EQ(Api(p.port(), "").publicGet("/r/" + id).status, 404);
    p.terminate();
    EXPECT_FALSE(fs::exists(data / "media" / (id + ".mp4")));
    EXPECT_NE(p.log().find("start-up sweep: removed 1 expired"), std::string::npos) << p.log();
}
