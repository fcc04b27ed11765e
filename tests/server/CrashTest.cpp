// Crash safety of the real mivra-server process: a kill -9 at any moment
// (mid-part, mid-complete, between a file and its row) leaves, after a
// restart, no half-assembled video served and no row pointing at a missing
// file; the upload can then be finished.
//
// The kills come at named points inside the server (the environment variable
// MIVRA_SERVER_CRASH_AT makes it SIGKILL itself exactly there, which is what a
// kill -9 at that instant does), and from outside in the middle of a part.
#include "ServerTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace servertest;
namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kPartSize = 256 * 1024;

class ServerCrash : public ::testing::Test {
protected:
    fs::path data() const { return dir.path() / "data"; }
    std::vector<std::string> args() const { return {"--part-size", std::to_string(partSize), "--quiet"}; }

    std::unique_ptr<ServerProcess> start(const std::string &crashAt = {})
    {
        std::map<std::string, std::string> env;
        if (!crashAt.empty())
            env["MIVRA_SERVER_CRASH_AT"] = crashAt;
        auto p = std::make_unique<ServerProcess>(data(), args(), env);
        EXPECT_TRUE(p->started());
        return p;
    }

    // Restarts (recovery runs), stops, and checks the folder.
    void expectConsistentAfterRestart()
    {
        auto p = start();
        p->terminate();
        const auto problems = checkConsistency(data());
        for (const std::string &problem : problems)
            ADD_FAILURE() << problem;
    }

    // What a media request answers must be all of the video or nothing.
    void expectAllOrNothing(const Api &api, const std::string &id, const std::string &bytes, bool *served)
    {
        const Http r = api.publicGet("/r/" + id);
        ASSERT_TRUE(r.status == 200 || r.status == 404) << r.status;
        if (r.status == 200) {
            EXPECT_TRUE(r.body == bytes) << "a half-assembled video was served (" << r.body.size() << " of "
                                         << bytes.size() << " bytes)";
        }
        *served = r.status == 200;
    }

    TempDir dir;
    std::string token = newToken();
    std::int64_t partSize = kPartSize;
};

} // namespace

TEST_F(ServerCrash, APartKilledWhileResentCountsAsMissingUntilSentAgain)
{
    // Part 1 sent again with other bytes and killed: from outside with three
    // quarters in (parts larger than the server's write buffer, so the old
    // bytes have begun to change), or by the server itself once all are
    // written but not yet recorded.
    for (const bool fromOutside : {true, false}) {
        SCOPED_TRACE(fromOutside ? "killed mid-body" : "killed once written");
        partSize = fromOutside ? 4 * 1024 * 1024 : kPartSize;
        const std::string bytes = videoBytes(std::size_t(partSize) * 2 + 100);
        std::string id;
        std::vector<std::string> parts;
        {
            auto p = start();
            const Api api(p->port(), token);
            id = api.create();
            parts = api.putParts(id, bytes, partSize);
            p->terminate();
        }
        {
            auto p = start(fromOutside ? "" : "part-written");
            const std::string head = "PUT /api/videos/" + id +
                                     "/parts/1 HTTP/1.1\r\nHost: x\r\nX-Device-Token: " + token +
                                     "\r\nContent-Length: " + std::to_string(partSize) + "\r\n\r\n";
            const std::size_t sent = std::size_t(fromOutside ? partSize * 3 / 4 : partSize);
            std::thread sender([&] { rawRequest(p->port(), head + videoBytes(sent), 3000); });
            if (fromOutside) {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                p->kill9();
            }
            EXPECT_TRUE(p->waitForExit(5000)) << "the server should have died";
            sender.join();
        }
        expectConsistentAfterRestart();

        auto p = start();
        const Api api(p->port(), token);
        EXPECT_EQ(api.complete(id, parts).status, 400);
        const Http again = api.put("/api/videos/" + id + "/parts/1", bytes.substr(0, std::size_t(partSize)));
        EXPECT_EQ(again.body, parts[0]); // the same bytes, the same etag
        ASSERT_EQ(api.complete(id, parts).status, 200);
        EXPECT_EQ(api.publicGet("/r/" + id).body, bytes);
        p->terminate();
    }
    expectConsistentAfterRestart();
}

TEST_F(ServerCrash, KillAtEveryStepOfCompleteAndOfASingleUpload)
{
    // Once a complete is accepted (recorded as "completing") start-up finishes
    // it; a single upload killed before its row is written is sent again.
    const struct {
        const char *point;
        bool single;
        bool servedAfter;
    } cases[] = {{"completing", false, true}, {"upload-synced", false, true}, {"published", false, true},
                 {"completed", false, true},  {"media-synced", true, false},  {"media-placed", true, false},
                 {"completed", true, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.point) + (c.single ? " (single)" : ""));
        const std::string bytes = videoBytes(c.single ? 100000 : std::size_t(kPartSize) * 3 + 17);
        std::string id;
        std::vector<std::string> parts;
        {
            auto p = start();
            const Api api = Api(p->port(), token);
            id = api.create("crash", R"("durationMs":1234)");
            if (c.single)
                api.put("/api/videos/" + id + "/parts/1", "an earlier part"); // dropped once the whole file is in
            else
                parts = api.putParts(id, bytes, kPartSize);
            p->terminate();
        }
        {
            auto p = start(c.point);
            const Api api(p->port(), token);
            EXPECT_EQ((c.single ? api.put("/api/videos/" + id, bytes, "video/mp4") : api.complete(id, parts)).status, 0)
                << "the server should have died";
            EXPECT_TRUE(p->waitForExit(5000));
        }
        expectConsistentAfterRestart();

        auto p = start();
        const Api api = Api(p->port(), token);
        bool served = false;
        expectAllOrNothing(api, id, bytes, &served);
        EXPECT_EQ(served, c.servedAfter);
        // The client's retry after the lost reply gets the video's record.
        const Http again = c.single ? api.put("/api/videos/" + id, bytes, "video/mp4") : api.complete(id, parts);
        EXPECT_EQ(again.status, served && c.single ? 409 : 200) << again.body;
        EXPECT_EQ(api.publicGet("/r/" + id).body, bytes);
        const json::Array list = api.get("/api/videos").json().find("videos")->asArray();
        ASSERT_EQ(list.size(), 1u);
        EXPECT_EQ(list[0].find("durationMs")->asInteger(), 1234);
        if (!c.single)
            EXPECT_EQ(again.json().find("id")->asString(), id);
        api.del("/api/videos/" + id);
        p->terminate();
    }
    expectConsistentAfterRestart();
}
