// The server under a hostile or careless client: slow and oversized
// requests, too many connections, quotas, and the HTTP details such clients
// trip over.
#include "ServerTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <poll.h>

using namespace servertest;

TEST(ServerAbuse, SlowClientsCannotStarveTheSharePages)
{
    InProcessServer server;
    const Api api = server.api(newToken());
    const std::string bytes = videoBytes(300 * 1000);
    const std::string id = api.uploadMultipart(bytes, kServerPartSize);

    // 64 connections from one address that send half a request and stall, as
    // a slow-loris does: only 16 are let in, and they hold no worker others need.
    std::vector<RawConnection> loris;
    std::vector<pollfd> polls;
    for (int i = 0; i < 64; ++i) {
        loris.emplace_back(server.port(), "127.0.0.2");
        loris.back().send("GET /r/" + id + " HTTP/1.1\r\nHost: x\r\nX-Slow: ");
        polls.push_back(pollfd{loris.back().fd(), POLLIN, 0});
    }
    // The refused ones are answered at once; wait for those answers.
    int refused = 0;
    while (refused < 48 && ::poll(polls.data(), polls.size(), 10000) > 0) {
        for (std::size_t i = 0; i < polls.size(); ++i) {
            if (polls[i].revents) {
                polls[i].fd = -1;
                refused += rawStatus(loris[i].readAll()) == 503;
            }
        }
    }
    EXPECT_EQ(refused, 48);

    // Another client downloads at once, while every admitted slow connection is still open.
    EXPECT_TRUE(api.publicGet("/r/" + id).body == bytes);
    EXPECT_EQ(api.publicGet("/v/" + id).status, 200);
    EXPECT_EQ(::poll(polls.data(), polls.size(), 0), 0) << "a slow connection was answered or closed already";
}

TEST(ServerAbuse, RawRequestsGetTheirStatusAndHeaders)
{
    InProcessServer server;
    // Only headers that never end meet the request time-out, so only they get a short one.
    InProcessServer impatient([](ServerConfig &c) { c.requestTimeoutSeconds = 1; });
    const Api api = server.api(newToken());
    const std::string id = api.create();
    const std::string token = api.tokenHeader();
    const std::string part = "/api/videos/" + id + "/parts/1";
    const std::string healthz = "GET /healthz HTTP/1.1\r\nHost: x\r\n\r\n";
    std::string manyHeaders;
    for (int i = 0; i < 200; ++i)
        manyHeaders += "X-" + std::to_string(i) + ": 1\r\n";

    struct Case {
        std::string request;
        int status;
        std::string present = {}, absent = {};
        const InProcessServer *to = nullptr; // the default server
    };
    const std::vector<Case> cases = {
        {"GET / HTTP/1.1\r\nX-Long: " + std::string(64 * 1024, 'a'), 431},
        {"GET / HTTP/1.1\r\n" + manyHeaders, 431},
        {"GET / HTTP/1.1\r\nHost: x\r\n", 408, {}, {}, &impatient},
        {rawHead("GET", "/api/videos"), 401, "WWW-Authenticate: DeviceToken"},
        // A known path with a method it does not answer: 405 naming those it does.
        {rawHead("DELETE", "/api/videos", token), 405, "Allow: GET, HEAD, POST\r\n"},
        {rawHead("GET", "/api/videos/" + id, token), 405, "Allow: PUT, DELETE\r\n"},
        {rawHead("PATCH", "/api/videos/" + id, token), 405, "Allow: PUT, DELETE\r\n"},
        {rawHead("GET", "/api/videos/" + id + "/complete", token), 405, "Allow: POST\r\n"},
        {rawHead("DELETE", "/r/" + id, token), 405, "Allow: GET, HEAD\r\n"},
        // Public pages never answer in the API's JSON.
        {rawHead("POST", "/r/" + id, "Content-Length: 0\r\n"), 405, {}, "application/json"},
        {rawHead("POST", "/api/videos", token), 411},
        // An unknown path with a body is refused, not read into memory.
        {rawHead("POST", "/elsewhere", "Content-Length: 1000\r\n") + std::string(1000, 'x'), 404},
        // "Chunked" in any case is chunked: the body is read, not taken for a request.
        {rawHead("PUT", part, token + "Transfer-Encoding: Chunked\r\n") + "3\r\nabc\r\n0\r\n\r\n", 200},
        // A reply sent before the body was read closes the connection, so the
        // unread bytes are never taken for the next request.
        {rawHead("PUT", part, "Content-Length: " + std::to_string(healthz.size()) + "\r\n") + healthz, 401,
         "Connection: close", "ok\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.request.substr(0, c.request.find('\r')));
        const std::string answer = rawRequest((c.to ? *c.to : server).port(), c.request);
        EXPECT_EQ(rawStatus(answer), c.status) << answer;
        EXPECT_TRUE(c.present.empty() || answer.find(c.present) != std::string::npos) << answer;
        EXPECT_TRUE(c.absent.empty() || answer.find(c.absent) == std::string::npos) << answer;
    }
}

TEST(ServerAbuse, QuotasRefuseWithJsonAndStoreNothing)
{
    // What is limited, the limit, the refusal, and the uploads started before the refused one.
    const std::vector<std::tuple<std::string, std::function<void(ServerConfig &)>, int, int>> cases = {
        {"uploads in progress", [](ServerConfig &c) { c.maxUploadsPerDevice = 2; }, 429, 2},
        {"videos kept", [](ServerConfig &c) { c.maxVideosPerDevice = 2; }, 507, 2},
        {"bytes kept", [](ServerConfig &c) { c.maxBytesPerDevice = 100 * 1024; }, 507, 1},
        {"free disk", [](ServerConfig &c) { c.diskReserveBytes = std::int64_t(1) << 50; }, 507, 0},
    };
    for (const auto &[what, configure, status, uploadsBefore] : cases) {
        SCOPED_TRACE(what);
        InProcessServer server(configure);
        const Api api = server.api(newToken());
        std::vector<std::string> ids;
        for (int i = 0; i < uploadsBefore; ++i)
            ids.push_back(api.create());
        // For bytes, the first part fits and the next would pass the quota.
        const bool bytes = what == "bytes kept";
        if (bytes)
            api.putParts(ids[0], videoBytes(64 * 1024), 64 * 1024);
        const Http r = bytes ? api.put("/api/videos/" + ids[0] + "/parts/2", videoBytes(64 * 1024))
                             : api.post("/api/videos", R"({"title":"one too many"})");
        EXPECT_EQ(std::pair(r.status, r.json().find("error") != nullptr), std::pair(status, true)) << r.body;
        const Usage usage = server.service().metadata().usage(Service::ownerOf(api.token()));
        EXPECT_EQ(bytes ? std::int64_t(server.service().metadata().parts(ids[0]).size()) : usage.videos,
                  bytes ? 1 : uploadsBefore);
        // Another device is not held back by this one's quota.
        EXPECT_TRUE(status != 429 || server.api(newToken()).post("/api/videos", R"({"title":"t"})").status == 201);
    }
}

TEST(ServerAbuse, TheListComesInPagesThatCoverEveryVideoOnce)
{
    InProcessServer server;
    const Api api = server.api(newToken());
    std::vector<std::string> made;
    for (int i = 0; i < 5; ++i) {
        made.push_back(api.uploadMultipart(videoBytes(100), kServerPartSize));
        if (i % 2)
            server.clock().advance(1000); // some share a creation time
    }
    std::vector<std::string> seen;
    std::string after;
    for (int page = 0; page < 10; ++page) {
        const json::Value list = api.get("/api/videos?limit=2" + (after.empty() ? "" : "&after=" + after)).json();
        for (const json::Value &v : list.find("videos")->asArray())
            seen.push_back(v.find("id")->asString());
        const json::Value *next = list.find("next");
        if (!next)
            break;
        after = next->asString();
    }
    EXPECT_THAT(seen, testing::UnorderedElementsAreArray(made));
    for (const char *bad : {"?limit=0", "?limit=1001", "?limit=x", "?after=nope"})
        EXPECT_EQ(api.get(std::string("/api/videos") + bad).status, 400) << bad;
}
