// HTTP byte ranges on the public media path, so browsers and players can seek.
#include "ServerTestSupport.h"

#include <gtest/gtest.h>

using namespace servertest;

namespace {

class ServerRange : public ::testing::Test {
protected:
    ServerRange()
    {
        bytes = videoBytes(100000);
        id = api.uploadMultipart(bytes, InProcessServer::Options{}.partSize);
    }

    Http get(const std::string &range, httplib::Headers extra = {})
    {
        if (!range.empty())
            extra.emplace("Range", range);
        return api.publicGet("/r/" + id, extra);
    }

    InProcessServer server;
    Api api{server.port(), newToken()};
    std::string bytes;
    std::string id;
};

} // namespace

TEST_F(ServerRange, WholeFileAdvertisesRanges)
{
    const Http r = get("");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, bytes);
    EXPECT_EQ(r.header("Accept-Ranges"), "bytes");
    EXPECT_EQ(r.header("Content-Length"), "100000");
    EXPECT_EQ(r.header("Content-Type"), "video/mp4");
    EXPECT_TRUE(r.header("Content-Range").empty());
}

TEST_F(ServerRange, OneRangeGets206WithContentRange)
{
    Http r = get("bytes=0-9");
    EXPECT_EQ(r.status, 206);
    EXPECT_EQ(r.body, bytes.substr(0, 10));
    EXPECT_EQ(r.header("Content-Range"), "bytes 0-9/100000");
    EXPECT_EQ(r.header("Content-Length"), "10");
    EXPECT_EQ(r.header("Content-Type"), "video/mp4");

    r = get("bytes=99990-");
    EXPECT_EQ(r.status, 206);
    EXPECT_EQ(r.body, bytes.substr(99990));
    EXPECT_EQ(r.header("Content-Range"), "bytes 99990-99999/100000");

    r = get("bytes=50000-50000");
    EXPECT_EQ(r.status, 206);
    EXPECT_EQ(r.body, bytes.substr(50000, 1));

    r = get("bytes=0-"); // what a browser's first media request looks like
    EXPECT_EQ(r.status, 206);
    EXPECT_EQ(r.body, bytes);
    EXPECT_EQ(r.header("Content-Range"), "bytes 0-99999/100000");
}

TEST_F(ServerRange, SuffixRangesServeTheEnd)
{
    Http r = get("bytes=-500");
    EXPECT_EQ(r.status, 206);
    EXPECT_EQ(r.body, bytes.substr(100000 - 500));
    EXPECT_EQ(r.header("Content-Range"), "bytes 99500-99999/100000");

    r = get("bytes=-200000"); // longer than the file: all of it
    EXPECT_EQ(r.status, 206);
    EXPECT_EQ(r.body, bytes);
    EXPECT_EQ(r.header("Content-Range"), "bytes 0-99999/100000");
}

TEST_F(ServerRange, ARangePastTheEndIsClipped)
{
    const Http r = get("bytes=99000-200000");
    EXPECT_EQ(r.status, 206);
    EXPECT_EQ(r.body, bytes.substr(99000));
    EXPECT_EQ(r.header("Content-Range"), "bytes 99000-99999/100000");
    EXPECT_EQ(r.header("Content-Length"), "1000");
}

TEST_F(ServerRange, BadRangesGet416)
{
    for (const char *range : {"bytes=100000-", "bytes=100000-100005", "bytes=200000-300000", "bytes=-0", "bytes=5-2",
                              "bytes=abc", "bytes="}) {
        const Http r = get(range);
        EXPECT_EQ(r.status, 416) << range;
        EXPECT_NE(r.body.size(), bytes.size()) << range;
    }
    const Http r = get("bytes=100000-");
    EXPECT_EQ(r.header("Content-Range"), "bytes */100000");
}

TEST_F(ServerRange, SeveralRangesOrAnotherUnitGetTheWholeFile)
{
    for (const char *range : {"bytes=0-1,5-6", "items=0-5", "Pages: 1"}) {
        const Http r = get(range);
        EXPECT_EQ(r.status, 200) << range;
        EXPECT_TRUE(r.body == bytes) << range;
    }
}

TEST_F(ServerRange, IfRangeFallsBackToTheWholeFileWhenStale)
{
    const std::string etag = get("").header("ETag");
    ASSERT_FALSE(etag.empty());
    Http r = get("bytes=0-9", {{"If-Range", etag}});
    EXPECT_EQ(r.status, 206);
    EXPECT_EQ(r.body.size(), 10u);
    r = get("bytes=0-9", {{"If-Range", "\"something-else\""}});
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, bytes);
}

TEST_F(ServerRange, HeadAnswersTheHeadersOnly)
{
    Http r = api.publicHead("/r/" + id);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.header("Content-Length"), "100000");
    EXPECT_EQ(r.header("Accept-Ranges"), "bytes");
    EXPECT_TRUE(r.body.empty());
    r = api.publicHead("/r/" + id, {{"Range", "bytes=10-19"}});
    EXPECT_EQ(r.status, 206);
    EXPECT_EQ(r.header("Content-Range"), "bytes 10-19/100000");
    EXPECT_TRUE(r.body.empty());
}

TEST_F(ServerRange, ManySeeksReadTheRightBytes)
{
    // A player seeking about: random ranges, each exact.
    for (int i = 0; i < 50; ++i) {
        const std::uint64_t a = std::uint64_t(std::rand()) % 100000;
        const std::uint64_t b = a + std::uint64_t(std::rand()) % 5000;
        const Http r = get("bytes=" + std::to_string(a) + "-" + std::to_string(b));
        ASSERT_EQ(r.status, 206);
        EXPECT_EQ(r.body, bytes.substr(a, std::min<std::uint64_t>(b, 99999) - a + 1));
    }
}

TEST_F(ServerRange, UnknownIdsAre404)
{
    EXPECT_EQ(api.publicGet("/r/AAAAAAAAAAAAAAAAAAAAAAAA", {{"Range", "bytes=0-1"}}).status, 404);
    const std::string pending = api.create();
    api.put("/api/videos/" + pending + "/parts/1", "abc");
    EXPECT_EQ(api.publicGet("/r/" + pending).status, 404); // not complete: nothing to serve
}
