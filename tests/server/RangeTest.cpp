// HTTP byte ranges on the public media path, so browsers and players can seek.
#include "ServerTestSupport.h"

#include <gtest/gtest.h>

using namespace servertest;

TEST(ServerRange, EachRangeHeaderGetsItsStatusBytesAndHeaders)
{
    InProcessServer server;
    const Api api(server.port(), newToken());
    const std::string bytes = videoBytes(100000);
    const std::string id = api.uploadMultipart(bytes, kServerPartSize);
    const std::string etag = api.publicGet("/r/" + id).header("ETag");
    ASSERT_FALSE(etag.empty());

    struct Case {
        httplib::Headers headers;
        int status;
        std::uint64_t first = 0, last = 99999;
    };
    const std::vector<Case> cases = {
        {{}, 200},
        {{{"Range", "bytes=0-9"}}, 206, 0, 9},
        {{{"Range", "bytes=99990-"}}, 206, 99990},
        {{{"Range", "bytes=50000-50000"}}, 206, 50000, 50000},
        {{{"Range", "bytes=0-"}}, 206}, // a browser's first media request
        {{{"Range", "bytes=-500"}}, 206, 99500},
        {{{"Range", "bytes=-200000"}}, 206}, // a suffix longer than the file: all of it
        {{{"Range", "bytes=99000-200000"}}, 206, 99000},
        {{{"Range", "bytes=0-9"}, {"If-Range", etag}}, 206, 0, 9},
        // A stale If-Range, several ranges or another unit: the whole file.
        {{{"Range", "bytes=0-9"}, {"If-Range", "\"something-else\""}}, 200},
        {{{"Range", "bytes=0-1,5-6"}}, 200},
        {{{"Range", "items=0-5"}}, 200},
        {{{"Range", "Pages: 1"}}, 200},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.headers));
        // HEAD answers the same headers without the body.
        const Http r = api.publicGet("/r/" + id, c.headers), head = api.publicGet("/r/" + id, c.headers, "HEAD");
        const std::string range =
            c.status == 206 ? "bytes " + std::to_string(c.first) + "-" + std::to_string(c.last) + "/100000" : "";
        for (const Http &h : {r, head})
            EXPECT_EQ(std::tuple(h.status, h.header("Content-Range"), h.header("Content-Length"),
                                 h.header("Content-Type"), h.header("Accept-Ranges")),
                      std::tuple(c.status, range, std::to_string(c.last - c.first + 1), "video/mp4", "bytes"));
        EXPECT_TRUE(r.body == bytes.substr(c.first, c.last - c.first + 1));
        EXPECT_TRUE(head.body.empty());
    }
    for (const char *range : {"bytes=100000-", "bytes=100000-100005", "bytes=200000-300000", "bytes=-0", "bytes=5-2",
                              "bytes=abc", "bytes=", "bytes=1-2-3", "bytes=-", "bytes=99999999999999999999-"})
        EXPECT_EQ(api.publicGet("/r/" + id, {{"Range", range}}).status, 416) << range;
    EXPECT_EQ(api.publicGet("/r/" + id, {{"Range", "bytes=100000-"}}).header("Content-Range"), "bytes */100000");
    EXPECT_EQ(api.publicGet("/r/AAAAAAAAAAAAAAAAAAAAAAAA", {{"Range", "bytes=0-1"}}).status, 404);
}
