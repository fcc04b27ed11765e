// Crash safety of the real mivra-server process: a kill -9 at any moment
// (mid-part, mid-complete, between a file and its row) leaves, after a
// restart, no half-assembled video served and no row pointing at a missing
// file; the upload can then be finished.
//
// The kills come at named points inside the server (the environment variable
// MIVRA_SERVER_CRASH_AT makes it SIGKILL itself exactly there, which is what a
// kill -9 at that instant does), and from outside in the middle of a part.
#include "Await.h"
#include "ServerTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

using namespace servertest;
namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kPartSize = 256 * 1024;

class ServerCrash : public ::testing::Test {
protected:
    fs::path data() const { return dir.path() / "data"; }

    // A server that kills itself at `crashAt` (empty: nowhere).
    std::unique_ptr<ServerProcess> start(const std::string &crashAt = {})
    {
        return std::unique_ptr<ServerProcess>(
            new ServerProcess(data(), {"--part-size", std::to_string(partSize)}, {{"MIVRA_SERVER_CRASH_AT", crashAt}}));
    }

    // Uploads what `send` sends on a fresh server, then stops it.
    void prepare(const std::function<void(const Api &)> &send)
    {
        auto p = start();
        send(Api(p->port(), token));
        p->terminate();
    }

    // Restarts (recovery runs), stops, and checks the folder.
    void expectConsistentAfterRestart()
    {
        start()->terminate();
        EXPECT_EQ(checkConsistency(data()), std::vector<std::string>{});
    }

    TempDir dir;
    std::string token = newToken();
    std::int64_t partSize = kPartSize;
};

} // namespace

TEST_F(ServerCrash, APartKilledWhileResentCountsAsMissingUntilSentAgain)
{
    // The first part sent again with other bytes and killed: from outside once its
    // old bytes have begun to change (parts larger than the server's write
    // buffer), or by the server itself once all are written but not yet recorded.
    for (const bool fromOutside : {true, false}) {
        SCOPED_TRACE(fromOutside ? "killed mid-body" : "killed once written");
        partSize = fromOutside ? 4 * 1024 * 1024 : kPartSize;
        const std::string bytes = videoBytes(std::size_t(partSize) * 2 + 100);
        std::string id;
        std::vector<std::string> parts;
        prepare([&](const Api &api) {
            id = api.create();
            parts = api.putParts(id, bytes, partSize);
        });
        const auto dying = start(fromOutside ? "" : "part-written");
        const std::string head =
            rawHead("PUT", "/api/videos/" + id + "/parts/1",
                    "X-Device-Token: " + token + "\r\nContent-Length: " + std::to_string(partSize) + "\r\n");
        const std::size_t sent = std::size_t(fromOutside ? partSize * 3 / 4 : partSize);
        std::thread sender([&] { rawRequest(dying->port(), head + videoBytes(sent)); });
        if (fromOutside) {
            // The first bytes of part 1 as they are in the upload's file now.
            const auto stored = [&] {
                std::string first(4096, '\0');
                std::ifstream(data() / "uploads" / id, std::ios::binary).read(first.data(), 4096);
                return first;
            };
            EXPECT_TRUE(waitUntil([&] { return stored() != bytes.substr(0, 4096); }, 30000))
                << "the re-sent bytes never reached the upload's file";
            dying->kill9();
        }
        EXPECT_TRUE(dying->waitForExit(30000)) << "the server should have died";
        sender.join();
        expectConsistentAfterRestart();

        auto p = start();
        const Api api(p->port(), token);
        EXPECT_EQ(api.complete(id, parts).status, 400);
        // The same bytes, the same etag.
        EXPECT_EQ(api.put("/api/videos/" + id + "/parts/1", bytes.substr(0, std::size_t(partSize))).body, parts[0]);
        ASSERT_EQ(api.complete(id, parts).status, 200);
        EXPECT_TRUE(api.publicGet("/r/" + id).body == bytes);
        p->terminate();
    }
    expectConsistentAfterRestart();
}

TEST_F(ServerCrash, KillAtEveryStepOfCompleteAndOfASingleUpload)
{
    // Once a complete is accepted (recorded as "completing") start-up finishes
    // it; a single upload killed before its row is written is sent again.
    // The point, whether the upload is a single one, whether it is served after the restart.
    const std::tuple<const char *, bool, bool> cases[] = {{"completing", false, true},   {"upload-synced", false, true},
                                                          {"published", false, true},    {"completed", false, true},
                                                          {"media-synced", true, false}, {"media-placed", true, false},
                                                          {"completed", true, true}};
    for (const auto &[point, single, servedAfter] : cases) {
        SCOPED_TRACE(std::string(point) + (single ? " (single)" : ""));
        const std::string bytes = videoBytes(single ? 100000 : std::size_t(kPartSize) * 3 + 17);
        std::string id;
        std::vector<std::string> parts;
        prepare([&](const Api &api) {
            id = api.create("crash", R"("durationMs":1234)");
            if (single)
                api.put("/api/videos/" + id + "/parts/1", "an earlier part"); // dropped once the whole file is in
            else
                parts = api.putParts(id, bytes, kPartSize);
        });
        auto retry = [&](const Api &api) {
            return single ? api.put("/api/videos/" + id, bytes, "video/mp4") : api.complete(id, parts);
        };
        const auto dying = start(point);
        EXPECT_EQ(retry(Api(dying->port(), token)).status, 0) << "the server should have died";
        EXPECT_TRUE(dying->waitForExit(30000));
        expectConsistentAfterRestart();

        auto p = start();
        const Api api(p->port(), token);
        // All of the video or nothing, never a half-assembled one, listed once
        // with its facts. The client's retry after the lost reply gets the
        // video's record, or 409 if its single upload is in place already.
        const Http before = api.publicGet("/r/" + id), again = retry(api);
        const json::Array list = api.get("/api/videos").json().find("videos")->asArray();
        const bool placed = servedAfter && single;
        EXPECT_EQ(std::tuple(before.status, again.status, again.id(), list.size(),
                             list.at(0).find("durationMs")->asInteger()),
                  std::tuple(servedAfter ? 200 : 404, placed ? 409 : 200, placed ? "" : id, 1u, 1234));
        EXPECT_TRUE(before.status != 200 || before.body == bytes) << "served " << before.body.size() << " bytes";
        EXPECT_TRUE(api.publicGet("/r/" + id).body == bytes);
        api.del("/api/videos/" + id);
        p->terminate();
    }
    expectConsistentAfterRestart();
}
