// The server under a hostile or careless client: slow and oversized
// requests, too many connections, quotas, and the HTTP details such clients
// trip over.
#include "ServerTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace servertest;

namespace {

class Socket {
public:
    explicit Socket(int fd) : m_fd(fd) {}
    ~Socket()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Socket(Socket &&o) noexcept : m_fd(std::exchange(o.m_fd, -1)) {}
    bool send(const std::string &s) const
    {
        return ::send(m_fd, s.data(), s.size(), MSG_NOSIGNAL) == ssize_t(s.size());
    }
    // Everything until the server closes the connection.
    std::string readAll() const
    {
        std::string out;
        char buf[4096];
        for (ssize_t n; (n = ::recv(m_fd, buf, sizeof buf, 0)) > 0;)
            out.append(buf, std::size_t(n));
        return out;
    }
    int fd() const { return m_fd; }

private:
    int m_fd;
};

std::string ask(const std::string &method, const std::string &target, const std::string &extra = "")
{
    return method + " " + target + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n" + extra + "\r\n";
}

} // namespace

TEST(ServerAbuse, SlowClientsCannotStarveTheSharePages)
{
    InProcessServer server;
    const Api api = server.api(newToken());
    const std::string bytes = videoBytes(300 * 1000);
    const std::string id = api.uploadMultipart(bytes, InProcessServer::Options{}.partSize);

    // 64 connections from one address that send half a request and stall, as
    // a slow-loris does: only 16 are let in, and they hold no worker others need.
    std::vector<Socket> loris;
    for (int i = 0; i < 64; ++i) {
        Socket s(connectFrom(server.port(), "127.0.0.2"));
        ASSERT_GE(s.fd(), 0);
        s.send("GET /r/" + id + " HTTP/1.1\r\nHost: x\r\nX-Slow: ");
        loris.push_back(std::move(s));
    }
    // The refused ones are answered at once; wait for those answers.
    std::vector<pollfd> polls;
    for (const Socket &s : loris)
        polls.push_back(pollfd{s.fd(), POLLIN, 0});
    int refused = 0;
    std::vector<bool> answered(polls.size());
    while (refused < 48 && ::poll(polls.data(), polls.size(), 10000) > 0) {
        for (std::size_t i = 0; i < polls.size(); ++i) {
            if (polls[i].revents && !answered[i]) {
                answered[i] = true;
                polls[i].fd = -1;
                refused += rawStatus(loris[i].readAll()) == 503;
            }
        }
    }
    EXPECT_EQ(refused, 48);

    // Another client downloads at once, while every admitted slow connection is still open.
    const Http media = api.publicGet("/r/" + id);
    EXPECT_EQ(media.status, 200);
    EXPECT_TRUE(media.body == bytes);
    EXPECT_EQ(api.publicGet("/v/" + id).status, 200);
    EXPECT_EQ(::poll(polls.data(), polls.size(), 0), 0) << "a slow connection was answered or closed already";
}

TEST(ServerAbuse, RequestsAreBoundedInHeadersAndTime)
{
    InProcessServer::Options options;
    options.configure = [](ServerConfig &c) { c.requestTimeoutSeconds = 1; };
    InProcessServer server(options);

    struct Case {
        const char *what;
        std::string request;
        int status;
    };
    const std::vector<Case> cases = {
        {"an endless header line", "GET / HTTP/1.1\r\nX-Long: " + std::string(64 * 1024, 'a'), 431},
        {"too many header lines",
         "GET / HTTP/1.1\r\n" +
             [] {
                 std::string h;
                 for (int i = 0; i < 200; ++i)
                     h += "X-" + std::to_string(i) + ": 1\r\n";
                 return h;
             }(),
         431},
        // Headers never finished: refused when the request's time is up.
        {"headers that never end", "GET / HTTP/1.1\r\nHost: x\r\n", 408},
    };
    for (const Case &c : cases) {
        Socket s(connectFrom(server.port()));
        s.send(c.request);
        EXPECT_EQ(rawStatus(s.readAll()), c.status) << c.what;
    }
}

TEST(ServerAbuse, HttpDetailsClientsRelyOn)
{
    InProcessServer server;
    const Api api = server.api(newToken());
    const std::string id = api.create();
    const std::string token = "X-Device-Token: " + api.token() + "\r\n";
    const int port = server.port();

    // 401 says how to authenticate.
    EXPECT_NE(rawRequest(port, ask("GET", "/api/videos")).find("WWW-Authenticate: DeviceToken"), std::string::npos);

    // A known path with a method it does not answer: 405 naming those it does.
    struct Allowed {
        std::string method, target, allow;
    };
    for (const Allowed &a : std::vector<Allowed>{{"DELETE", "/api/videos", "GET, HEAD, POST"},
                                                 {"GET", "/api/videos/" + id, "PUT, DELETE"},
                                                 {"GET", "/api/videos/" + id + "/complete", "POST"},
                                                 {"DELETE", "/r/" + id, "GET, HEAD"}}) {
        const std::string answer = rawRequest(port, ask(a.method, a.target, token + "Content-Length: 0\r\n"));
        EXPECT_EQ(rawStatus(answer), 405) << a.method << " " << a.target;
        EXPECT_NE(answer.find("Allow: " + a.allow + "\r\n"), std::string::npos) << answer;
    }

    // Public pages never answer in the API's JSON.
    for (const std::string &target : std::vector<std::string>{"/r/" + id, "/v/AAAAAAAAAAAAAAAAAAAAAAAA", "/r/nope"}) {
        const std::string answer = rawRequest(port, ask("POST", target, "Content-Length: 0\r\n"));
        EXPECT_EQ(answer.find("application/json"), std::string::npos) << target << ": " << answer;
        EXPECT_GE(rawStatus(answer), 400);
    }

    // "Chunked" in any case is chunked: the body is read, not taken for a request.
    const std::string chunked =
        rawRequest(port, ask("PUT", "/api/videos/" + id + "/parts/1", token + "Transfer-Encoding: Chunked\r\n") +
                             "3\r\nabc\r\n0\r\n\r\n");
    EXPECT_EQ(rawStatus(chunked), 200) << chunked;

    // A reply sent before the body was read closes the connection, so the
    // unread bytes are never taken for the next request.
    Socket s(connectFrom(port));
    const std::string body = "GET /healthz HTTP/1.1\r\nHost: x\r\n\r\n";
    s.send(ask("PUT", "/api/videos/" + id + "/parts/1", "Content-Length: " + std::to_string(body.size()) + "\r\n") +
           body);
    const std::string answer = s.readAll();
    EXPECT_EQ(rawStatus(answer), 401);
    EXPECT_NE(answer.find("Connection: close"), std::string::npos);
    EXPECT_EQ(answer.find("ok\n"), std::string::npos) << "the body was served as a request";
}

TEST(ServerAbuse, QuotasRefuseWithJsonAndStoreNothing)
{
    struct Case {
        const char *what;
        std::function<void(ServerConfig &)> configure;
        int status;
        int uploadsBefore; // uploads started before the refused one
    };
    const std::vector<Case> cases = {
        {"uploads in progress", [](ServerConfig &c) { c.maxUploadsPerDevice = 2; }, 429, 2},
        {"videos kept", [](ServerConfig &c) { c.maxVideosPerDevice = 2; }, 507, 2},
        {"bytes kept", [](ServerConfig &c) { c.maxBytesPerDevice = 100 * 1024; }, 507, 1},
        {"free disk", [](ServerConfig &c) { c.diskReserveBytes = std::int64_t(1) << 50; }, 507, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        InProcessServer::Options options;
        options.configure = c.configure;
        InProcessServer server(options);
        const Api api = server.api(newToken());
        std::vector<std::string> ids;
        for (int i = 0; i < c.uploadsBefore; ++i)
            ids.push_back(api.create());
        if (std::string(c.what) == "bytes kept") {
            // The first part fits; the next would pass the quota.
            api.putParts(ids[0], videoBytes(64 * 1024), 64 * 1024);
            const Http r = api.put("/api/videos/" + ids[0] + "/parts/2", videoBytes(64 * 1024));
            EXPECT_EQ(r.status, c.status);
            EXPECT_NE(r.json().find("error"), nullptr);
            EXPECT_EQ(server.service().metadata().parts(ids[0]).size(), 1u);
            continue;
        }
        const Http r = api.post("/api/videos", R"({"title":"one too many"})");
        EXPECT_EQ(r.status, c.status) << r.body;
        EXPECT_NE(r.json().find("error"), nullptr);
        EXPECT_EQ(server.service().metadata().usage(Service::ownerOf(api.token())).videos, c.uploadsBefore);
        // Another device is not held back by this one's quota.
        if (c.status == 429)
            EXPECT_EQ(server.api(newToken()).post("/api/videos", R"({"title":"t"})").status, 201);
    }
}

TEST(ServerAbuse, TheListComesInPagesThatCoverEveryVideoOnce)
{
    InProcessServer server;
    const Api api = server.api(newToken());
    std::vector<std::string> made;
    for (int i = 0; i < 5; ++i) {
        const std::string id = api.create("v" + std::to_string(i));
        api.put("/api/videos/" + id, videoBytes(100), "video/mp4");
        made.insert(made.begin(), id); // newest first
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
    std::vector<std::string> expected = made;
    EXPECT_EQ(seen.size(), 5u);
    std::sort(seen.begin(), seen.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(seen, expected);
    for (const char *bad : {"?limit=0", "?limit=1001", "?limit=x", "?after=nope"})
        EXPECT_EQ(api.get(std::string("/api/videos") + bad).status, 400) << bad;
}
