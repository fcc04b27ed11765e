// Crash safety of the real mivra-server process: a kill -9 at any moment
// (mid-part, mid-complete, between a file and its row) leaves, after a
// restart, no half-assembled video served and no row pointing at a missing
// file; the upload can then be finished.
//
// Two ways of killing: at named points inside the server (the environment
// variable MIVRA_SERVER_CRASH_AT makes it SIGKILL itself exactly there, which
// is what a kill -9 at that instant does), and from outside at arbitrary
// moments.
#include "ServerTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
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

TEST_F(ServerCrash, KillMidPartLeavesNothingBehindAndThePartCanBeSentAgain)
{
    // Parts larger than the server's write buffer, so the killed part has
    // really begun to overwrite the bytes of the part it replaces.
    partSize = 4 * 1024 * 1024;
    const std::string bytes = videoBytes(std::size_t(partSize) * 2);
    std::string id;
    std::vector<std::string> parts;
    {
        auto p = start();
        const Api api = Api(p->port(), token);
        id = api.create();
        parts = api.putParts(id, bytes, partSize);
        // Part 1 sent again with other bytes; three quarters of it arrive, then the kill.
        const std::string head = "PUT /api/videos/" + id + "/parts/1 HTTP/1.1\r\nHost: x\r\nX-Device-Token: " + token +
                                 "\r\nContent-Length: " + std::to_string(partSize) + "\r\n\r\n";
        std::thread sender([&] { rawRequest(p->port(), head + videoBytes(std::size_t(partSize) * 3 / 4), 3000); });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        p->kill9();
        sender.join();
    }
    expectConsistentAfterRestart();

    auto p = start();
    const Api api = Api(p->port(), token);
    // Part 1 counts as missing now: its bytes were being replaced.
    EXPECT_EQ(api.post("/api/videos/" + id + "/complete", Api::completeBody(parts)).status, 400);
    const Http again = api.put("/api/videos/" + id + "/parts/1", bytes.substr(0, std::size_t(partSize)));
    ASSERT_EQ(again.status, 200);
    EXPECT_EQ(again.body, parts[0]); // the same bytes, the same etag
    ASSERT_EQ(api.post("/api/videos/" + id + "/complete", Api::completeBody(parts)).status, 200);
    EXPECT_EQ(api.publicGet("/r/" + id).body, bytes);
}

TEST_F(ServerCrash, KillAfterAPartIsWrittenBeforeItIsRecorded)
{
    const std::string bytes = videoBytes(std::size_t(kPartSize) * 3 - 100);
    std::string id;
    std::vector<std::string> parts;
    {
        auto p = start();
        const Api api = Api(p->port(), token);
        id = api.create();
        parts = api.putParts(id, bytes, kPartSize);
        p->terminate();
    }
    {
        // Part 2 sent again with other bytes; the server dies once they are written.
        auto p = start("part-written");
        const Http r = Api(p->port(), token).put("/api/videos/" + id + "/parts/2", videoBytes(std::size_t(kPartSize)));
        EXPECT_EQ(r.status, 0) << "the server should have died";
        EXPECT_TRUE(p->waitForExit(5000));
    }
    expectConsistentAfterRestart();

    auto p = start();
    const Api api = Api(p->port(), token);
    EXPECT_EQ(api.post("/api/videos/" + id + "/complete", Api::completeBody(parts)).status, 400);
    api.put("/api/videos/" + id + "/parts/2", bytes.substr(std::size_t(kPartSize), std::size_t(kPartSize)));
    ASSERT_EQ(api.post("/api/videos/" + id + "/complete", Api::completeBody(parts)).status, 200);
    EXPECT_EQ(api.publicGet("/r/" + id).body, bytes);
    p->terminate();
    expectConsistentAfterRestart();
}

TEST_F(ServerCrash, KillAtEveryStepOfComplete)
{
    // Every step after the complete is accepted (recorded as "completing"):
    // start-up finishes it, so the video is there, whole, after the restart.
    for (const char *point : {"completing", "upload-synced", "published", "completed"}) {
        SCOPED_TRACE(point);
        const std::string bytes = videoBytes(std::size_t(kPartSize) * 3 + 17);
        std::string id;
        std::vector<std::string> parts;
        {
            auto p = start();
            const Api api = Api(p->port(), token);
            id = api.create("crash", R"("durationMs":1234)");
            parts = api.putParts(id, bytes, kPartSize);
            p->terminate();
        }
        {
            auto p = start(point);
            const Http r = Api(p->port(), token).post("/api/videos/" + id + "/complete", Api::completeBody(parts));
            EXPECT_EQ(r.status, 0) << "the server should have died";
            EXPECT_TRUE(p->waitForExit(5000));
        }
        expectConsistentAfterRestart();

        auto p = start();
        const Api api = Api(p->port(), token);
        bool served = false;
        expectAllOrNothing(api, id, bytes, &served);
        EXPECT_TRUE(served);
        // The client's retry after the lost reply gets the video's record.
        const Http again = api.post("/api/videos/" + id + "/complete", Api::completeBody(parts));
        EXPECT_EQ(again.status, 200);
        EXPECT_EQ(again.json().find("id")->asString(), id);
        const json::Array list = api.get("/api/videos").json().find("videos")->asArray();
        ASSERT_EQ(list.size(), 1u);
        EXPECT_EQ(list[0].find("durationMs")->asInteger(), 1234);
        api.del("/api/videos/" + id);
        p->terminate();
    }
    expectConsistentAfterRestart();
}

TEST_F(ServerCrash, KillAtEveryStepOfASinglePartUpload)
{
    for (const char *point : {"media-synced", "media-placed", "completed"}) {
        SCOPED_TRACE(point);
        const std::string bytes = videoBytes(100000);
        std::string id;
        {
            auto p = start();
            const Api api = Api(p->port(), token);
            id = api.create();
            api.put("/api/videos/" + id + "/parts/1", "an earlier part"); // dropped once the whole file is in
            p->terminate();
        }
        {
            auto p = start(point);
            EXPECT_EQ(Api(p->port(), token).put("/api/videos/" + id, bytes, "video/mp4").status, 0);
            EXPECT_TRUE(p->waitForExit(5000));
        }
        expectConsistentAfterRestart();

        auto p = start();
        const Api api = Api(p->port(), token);
        bool served = false;
        expectAllOrNothing(api, id, bytes, &served);
        EXPECT_EQ(served, std::string(point) == "completed");
        if (!served) {
            EXPECT_EQ(api.put("/api/videos/" + id, bytes, "video/mp4").status, 200);
        }
        EXPECT_EQ(api.publicGet("/r/" + id).body, bytes);
        p->terminate();
    }
    expectConsistentAfterRestart();
}

TEST_F(ServerCrash, KillAtArbitraryMomentsOfComplete)
{
    const std::string bytes = videoBytes(std::size_t(kPartSize) * 16);
    // How long one complete takes here, so the kills can be spread across it.
    double completeMs = 0;
    {
        auto p = start();
        const Api api = Api(p->port(), token);
        const std::string id = api.create();
        const auto parts = api.putParts(id, bytes, kPartSize);
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(api.post("/api/videos/" + id + "/complete", Api::completeBody(parts)).status, 200);
        completeMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        p->terminate();
    }
    int servedCount = 0, notServedCount = 0;
    for (double fraction : {0.0, 0.2, 0.4, 0.6, 0.8, 1.0, 1.5}) {
        const auto delay = std::chrono::microseconds(std::int64_t(completeMs * fraction * 1000));
        SCOPED_TRACE("kill after " + std::to_string(delay.count()) + " us");
        std::string id;
        std::vector<std::string> parts;
        {
            auto p = start();
            const Api api = Api(p->port(), token);
            id = api.create();
            parts = api.putParts(id, bytes, kPartSize);
            auto pending = std::async(std::launch::async, [&] {
                return api.post("/api/videos/" + id + "/complete", Api::completeBody(parts));
            });
            std::this_thread::sleep_for(delay);
            p->kill9();
            pending.wait();
        }
        expectConsistentAfterRestart();

        auto p = start();
        const Api api = Api(p->port(), token);
        bool served = false;
        expectAllOrNothing(api, id, bytes, &served);
        (served ? servedCount : notServedCount)++;
        if (!served) {
            EXPECT_EQ(api.post("/api/videos/" + id + "/complete", Api::completeBody(parts)).status, 200);
        }
        EXPECT_TRUE(api.publicGet("/r/" + id).body == bytes);
        p->terminate();
    }
    std::cerr << "one complete took " << completeMs << " ms; kills before the video was complete: " << notServedCount
              << ", after: " << servedCount << "\n";
}
