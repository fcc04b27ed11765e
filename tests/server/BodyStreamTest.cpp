// Upload bodies are read straight from the connection in large pieces: they
// must take exactly their declared length, however the bytes arrive, and
// leave what follows for the next request.

#include "ServerTestSupport.h"

#include <gtest/gtest.h>

using namespace servertest;

namespace {

constexpr std::int64_t kPartSize = 3 * 1024 * 1024; // more than one piece of the reader

std::string partRequest(const std::string &token, const std::string &id, int n, std::size_t length)
{
    return "PUT /api/videos/" + id + "/parts/" + std::to_string(n) +
           " HTTP/1.1\r\nHost: x\r\nX-Device-Token: " + token +
           "\r\nContent-Type: application/octet-stream\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n";
}

// Sends the head, then the pieces one by one, on one connection and returns all the server answers.
std::string sendPieces(int port, const std::string &head, const std::vector<std::string> &pieces, bool closeWrite)
{
    const RawConnection c(port);
    c.send(head);
    for (const std::string &piece : pieces)
        c.send(piece);
    if (closeWrite)
        c.closeWrite();
    return c.readAll();
}

std::string partReply(int n, const std::string &bytes)
{
    return R"({"partNumber":)" + std::to_string(n) + R"(,"etag":")" + partEtag(bytes) + R"("})";
}

class ServerBodyStream : public ::testing::Test {
protected:
    InProcessServer server{[](ServerConfig &c) { c.partSize = kPartSize; }};
    Api api = server.api(newToken());
};

} // namespace

TEST_F(ServerBodyStream, PartsTakeExactlyTheirLengthHoweverTheyArrive)
{
    const std::string bytes = videoBytes(std::size_t(kPartSize) + 1000);
    const std::string one = bytes.substr(0, std::size_t(kPartSize)), two = bytes.substr(std::size_t(kPartSize));
    const std::string next = "GET /healthz HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
    const std::vector<std::vector<std::string>> cases{
        {one + next}, // whole, the next request in the same write
        {one.substr(0, 7), one.substr(7, 1 << 20), one.substr(7 + (1 << 20)), next},
    };
    for (const std::vector<std::string> &body : cases) {
        SCOPED_TRACE(body.size());
        const std::string id = api.create();
        const std::string answer = sendPieces(server.port(), partRequest(api.token(), id, 1, one.size()), body, false);
        // The part's reply, then the next request's.
        EXPECT_EQ(rawStatus(answer), 200);
        EXPECT_NE(answer.find(partEtag(one)), std::string::npos) << answer.substr(0, 400);
        EXPECT_TRUE(answer.ends_with("\r\n\r\nok\n")) << answer.substr(0, 400);

        ASSERT_EQ(api.complete(id, {partReply(1, one), api.put("/api/videos/" + id + "/parts/2", two).body}).status,
                  200);
        EXPECT_TRUE(api.publicGet("/r/" + id).body == bytes);
    }
}

TEST_F(ServerBodyStream, ABodyCutShortStoresNothing)
{
    const std::string id = api.create();
    const std::string bytes = videoBytes(2 * 1024 * 1024);
    // The first part arrived whole once; a re-send cut short changes its bytes, so its
    // old etag must no longer complete the video.
    const std::string earlier = api.putParts(id, videoBytes(1024 * 1024), kPartSize)[0];

    // The client goes away after part of the body, across a piece boundary or not.
    for (const std::size_t sent : {std::size_t(100), std::size_t(1536 * 1024)}) {
        SCOPED_TRACE(sent);
        const std::string answer =
            sendPieces(server.port(), partRequest(api.token(), id, 1, bytes.size()), {bytes.substr(0, sent)}, true);
        EXPECT_NE(rawStatus(answer), 200);
        EXPECT_NE(api.complete(id, {partReply(1, bytes.substr(0, sent))}).status, 200);
        EXPECT_NE(api.complete(id, {earlier}).status, 200);
    }
    // The upload is still whole and can go on; a re-sent part replaces the earlier one.
    EXPECT_EQ(api.complete(id, api.putParts(id, bytes, kPartSize)).status, 200);
    EXPECT_TRUE(api.publicGet("/r/" + id).body == bytes);
    server.app().stop();
    EXPECT_EQ(checkConsistency(server.dataDir()), std::vector<std::string>{});
}
