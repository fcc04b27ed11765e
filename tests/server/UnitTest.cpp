// Small pieces of mivra-server: byte ranges, ids, tokens, the command line,
// the share page's escaping.
#include "Crypto.h"
#include "HttpRange.h"
#include "ServerConfig.h"
#include "Service.h"
#include "SharePage.h"

#include <gtest/gtest.h>

#include <set>

namespace {

ByteRange R(const char *header, std::uint64_t size)
{
    return parseRange(header, size);
}

void expectPartial(const char *header, std::uint64_t size, std::uint64_t first, std::uint64_t last)
{
    const ByteRange r = R(header, size);
    EXPECT_EQ(r.kind, ByteRange::Kind::Partial) << header;
    EXPECT_EQ(r.first, first) << header;
    EXPECT_EQ(r.last, last) << header;
}

} // namespace

TEST(ServerRangeParse, ServesOneRangeClippedToTheEnd)
{
    expectPartial("bytes=0-9", 100, 0, 9);
    expectPartial("bytes=0-0", 100, 0, 0);
    expectPartial("bytes=90-", 100, 90, 99);
    expectPartial("bytes=95-200", 100, 95, 99);
    expectPartial("bytes=-10", 100, 90, 99);
    expectPartial("bytes=-200", 100, 0, 99);
    expectPartial("bytes=99-99", 100, 99, 99);
    expectPartial("Bytes=1-2", 100, 1, 2);
    expectPartial("bytes= 1 - 2 ", 100, 1, 2);
}

TEST(ServerRangeParse, RefusesWhatCannotBeSatisfied)
{
    for (const char *h : {"bytes=100-", "bytes=100-200", "bytes=-0", "bytes=5-2", "bytes=abc", "bytes=", "bytes=1-2-3",
                          "bytes=-", "bytes=99999999999999999999-"})
        EXPECT_EQ(R(h, 100).kind, ByteRange::Kind::Unsatisfiable) << h;
    EXPECT_EQ(R("bytes=0-", 0).kind, ByteRange::Kind::Unsatisfiable);
    EXPECT_EQ(R("bytes=-5", 0).kind, ByteRange::Kind::Unsatisfiable);
}

TEST(ServerRangeParse, AnswersSeveralRangesWithTheWholeFile)
{
    // Several ranges, or another unit, are ignored: the whole file.
    for (const char *h : {"bytes=0-1,5-6", "items=0-1", "pages 1"})
        EXPECT_EQ(R(h, 100).kind, ByteRange::Kind::Whole) << h;
}

TEST(ServerIds, AreLongRandomAndUrlSafe)
{
    std::set<std::string> seen;
    for (int i = 0; i < 2000; ++i) {
        const std::string id = crypto::newVideoId();
        EXPECT_EQ(id.size(), 24u);
        EXPECT_TRUE(crypto::isVideoId(id)) << id;
        EXPECT_NE(id.front(), '-');
        EXPECT_NE(id.back(), '_');
        EXPECT_TRUE(seen.insert(id).second);
    }
    EXPECT_FALSE(crypto::isVideoId(".."));
    EXPECT_FALSE(crypto::isVideoId("aaaaaaaaaaaaaaaaaaaaaaa/"));
    EXPECT_FALSE(crypto::isVideoId("aaaaaaaaaaaaaaaaaaaaaaa."));
    EXPECT_FALSE(crypto::isVideoId(std::string(25, 'a')));
}

TEST(ServerTokens, WellFormedMeansLongEnoughAndPlain)
{
    EXPECT_TRUE(Service::isWellFormedToken(std::string(64, 'a')));
    EXPECT_TRUE(Service::isWellFormedToken("0123456789abcdef0123456789abcdef"));
    EXPECT_FALSE(Service::isWellFormedToken(""));
    EXPECT_FALSE(Service::isWellFormedToken(std::string(31, 'a')));
    EXPECT_FALSE(Service::isWellFormedToken(std::string(257, 'a')));
    EXPECT_FALSE(Service::isWellFormedToken(std::string(40, 'a') + " b"));
    EXPECT_FALSE(Service::isWellFormedToken(std::string(40, 'a') + "\xc3\xa9"));
    EXPECT_NE(Service::ownerOf(std::string(64, 'a')), std::string(64, 'a'));
}

TEST(ServerConfigArgs, ParsesTheCommandLine)
{
    ParsedArgs p = parseArgs({"--listen", "[::1]:0", "--data", "/tmp/x", "--public-origin", "https://v.example.com/",
                              "--part-size=5M", "--max-video-size", "1G", "--upload-timeout", "60", "--quiet"});
    ASSERT_TRUE(p.config) << p.error;
    EXPECT_EQ(p.config->host, "::1");
    EXPECT_EQ(p.config->port, 0);
    EXPECT_EQ(p.config->publicOrigin, "https://v.example.com");
    EXPECT_EQ(p.config->partSize, 5 * 1024 * 1024);
    EXPECT_EQ(p.config->maxVideoBytes, 1024LL * 1024 * 1024);
    EXPECT_EQ(p.config->uploadTimeoutSeconds, 60);
    EXPECT_FALSE(p.config->logRequests);

    ParsedArgs d = parseArgs({"--data", "d"});
    ASSERT_TRUE(d.config);
    EXPECT_EQ(d.config->host, "127.0.0.1");
    EXPECT_EQ(d.config->port, 8787);
    EXPECT_EQ(d.config->partSize, 8 * 1024 * 1024);
    EXPECT_EQ(d.config->maxVideoBytes, 20LL * 1024 * 1024 * 1024);
    EXPECT_EQ(d.config->uploadTimeoutSeconds, 86400);

    EXPECT_TRUE(parseArgs({"--help"}).help);
    EXPECT_FALSE(parseArgs({}).config);                                    // --data missing
    EXPECT_FALSE(parseArgs({"--data", "d", "--listen", "8787"}).config);   // no host
    EXPECT_FALSE(parseArgs({"--data", "d", "--listen", "::1:80"}).config); // v6 without brackets
    EXPECT_FALSE(parseArgs({"--data", "d", "--public-origin", "ftp://x"}).config);
    EXPECT_FALSE(parseArgs({"--data", "d", "--public-origin", "https://x/path"}).config);
    EXPECT_FALSE(parseArgs({"--data", "d", "--part-size", "0"}).config);
    EXPECT_FALSE(parseArgs({"--data", "d", "--part-size", "2G", "--max-video-size", "1G"}).config);
    EXPECT_FALSE(parseArgs({"--data", "d", "--bogus"}).config);
}

TEST(ServerSharePage, EscapesEveryUserText)
{
    PublicVideo v;
    v.id = "AbCdEfGhIjKlMnOpQrStUvWx";
    v.title = "<script>alert(\"x\")</script> & 'quotes'";
    v.expiresAtMs = 1700000000000;
    v.durationMs = 61000;
    const std::string html = sharepage::render(v, "https://v.example.com");
    EXPECT_EQ(html.find("<script"), std::string::npos);
    EXPECT_NE(html.find("&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt; &amp; &#39;quotes&#39;"), std::string::npos);
    EXPECT_NE(html.find("<meta property=\"og:title\" content=\"&lt;script&gt;"), std::string::npos);
    EXPECT_NE(html.find("<meta property=\"og:video\" content=\"https://v.example.com/r/AbCdEfGhIjKlMnOpQrStUvWx\">"),
              std::string::npos);
    EXPECT_NE(html.find("<meta property=\"og:url\" content=\"https://v.example.com/v/AbCdEfGhIjKlMnOpQrStUvWx\">"),
              std::string::npos);
    EXPECT_NE(html.find("src=\"/r/AbCdEfGhIjKlMnOpQrStUvWx\""), std::string::npos);
    EXPECT_NE(html.find("Available until Tue, 14 Nov 2023 22:13 UTC"), std::string::npos);
    EXPECT_NE(html.find("1:01"), std::string::npos);

    v.expiresAtMs = kForeverExpiresAtMs;
    EXPECT_NE(sharepage::render(v, "http://x").find("Kept until deleted"), std::string::npos);
}
