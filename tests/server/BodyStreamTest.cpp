// Upload bodies are read straight from the connection in large pieces: they
// must take exactly their declared length, however the bytes arrive, and
// leave what follows for the next request.

#include "ServerTestSupport.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace servertest;

namespace {

constexpr std::int64_t kPartSize = 3 * 1024 * 1024; // more than one piece of the reader

std::string partRequest(const std::string &token, const std::string &id, int n, std::size_t length,
                        const std::string &extra = "")
{
    return "PUT /api/videos/" + id + "/parts/" + std::to_string(n) +
           " HTTP/1.1\r\nHost: x\r\nX-Device-Token: " + token +
           "\r\nContent-Type: application/octet-stream\r\nContent-Length: " + std::to_string(length) + "\r\n" + extra +
           "\r\n";
}

// Sends the pieces on one connection, the write side closed after the last,
// and returns all the server answers.
std::string sendPieces(int port, const std::vector<std::string> &pieces, bool closeWrite)
{
    const int fd = connectFrom(port);
    if (fd < 0)
        return {};
    for (const std::string &piece : pieces)
        for (std::size_t sent = 0; sent < piece.size();) {
            const ssize_t n = ::send(fd, piece.data() + sent, piece.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += std::size_t(n);
        }
    if (closeWrite)
        ::shutdown(fd, SHUT_WR);
    std::string answer;
    char buf[65536];
    for (pollfd p{fd, POLLIN, 0}; ::poll(&p, 1, 10000) > 0;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        answer.append(buf, std::size_t(n));
    }
    ::close(fd);
    return answer;
}

int replies(const std::string &answer)
{
    int count = 0;
    for (std::size_t at = answer.find("HTTP/1.1 "); at != std::string::npos; at = answer.find("HTTP/1.1 ", at + 1))
        ++count;
    return count;
}

} // namespace

TEST(ServerBodyStream, PartsTakeExactlyTheirLengthHoweverTheyArrive)
{
    InProcessServer::Options options;
    options.partSize = kPartSize;
    InProcessServer server(options);
    const Api api = server.api(newToken());
    const std::string bytes = videoBytes(std::size_t(kPartSize) + 1000);
    const std::string one = bytes.substr(0, std::size_t(kPartSize)), two = bytes.substr(std::size_t(kPartSize));
    const std::string next = "GET /healthz HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";

    struct Case {
        const char *how;
        std::vector<std::string> pieces; // after the headers of part 1
    };
    const std::vector<Case> cases{
        {"whole, the next request in the same write", {one + next}},
        {"in uneven pieces", {one.substr(0, 7), one.substr(7, 1 << 20), one.substr(7 + (1 << 20)), next}},
    };
    for (const Case &c : cases) {
        const std::string id = api.create();
        std::vector<std::string> pieces{partRequest(api.token(), id, 1, one.size())};
        pieces.insert(pieces.end(), c.pieces.begin(), c.pieces.end());
        const std::string answer = sendPieces(server.port(), pieces, false);
        EXPECT_EQ(rawStatus(answer), 200) << c.how;
        EXPECT_NE(answer.find(partEtag(one)), std::string::npos) << c.how;
        EXPECT_EQ(replies(answer), 2) << c.how << ": " << answer.substr(0, 400);
        EXPECT_NE(answer.find("\r\n\r\nok\n"), std::string::npos) << c.how;

        const Http second = api.put("/api/videos/" + id + "/parts/2", two);
        ASSERT_EQ(second.status, 200) << c.how;
        const std::string firstReply = R"({"partNumber":1,"etag":")" + partEtag(one) + R"("})";
        ASSERT_EQ(api.complete(id, {firstReply, second.body}).status, 200) << c.how;
        EXPECT_TRUE(api.publicGet("/r/" + id).body == bytes) << c.how;
    }
}

TEST(ServerBodyStream, ABodyCutShortStoresNothing)
{
    InProcessServer::Options options;
    options.partSize = kPartSize;
    InProcessServer server(options);
    const Api api = server.api(newToken());
    const std::string id = api.create();
    const std::string bytes = videoBytes(2 * 1024 * 1024);
    // Part 1 arrived whole once; a re-send cut short changes its bytes, so its
    // old etag must no longer complete the video.
    const Http earlier = api.put("/api/videos/" + id + "/parts/1", videoBytes(1024 * 1024));
    ASSERT_EQ(earlier.status, 200);

    // The client goes away after part of the body, across a piece boundary or not.
    for (const std::size_t sent : {std::size_t(100), std::size_t(1536 * 1024)}) {
        const std::string answer =
            sendPieces(server.port(), {partRequest(api.token(), id, 1, bytes.size()), bytes.substr(0, sent)}, true);
        EXPECT_NE(rawStatus(answer), 200) << sent;
        const std::string claimed = R"({"partNumber":1,"etag":")" + partEtag(bytes.substr(0, sent)) + R"("})";
        EXPECT_NE(api.complete(id, {claimed}).status, 200) << sent;
        EXPECT_NE(api.complete(id, {earlier.body}).status, 200) << sent;
    }
    // The upload is still whole and can go on.
    const Http part = api.put("/api/videos/" + id + "/parts/1", bytes);
    ASSERT_EQ(part.status, 200);
    EXPECT_EQ(api.complete(id, {part.body}).status, 200);
    server.app().stop();
    EXPECT_EQ(checkConsistency(server.dataDir()), std::vector<std::string>{});
}
