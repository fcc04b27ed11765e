// Small pieces of mivra-server: ids, the command line, the share page's
// escaping.
#include "Crypto.h"
#include "ServerConfig.h"
#include "SharePage.h"

#include <gtest/gtest.h>

#include <set>

TEST(ServerIds, AreLongRandomAndUrlSafe)
{
    std::set<std::string> seen;
    for (int i = 0; i < 2000; ++i) {
        const std::string id = crypto::newVideoId();
        EXPECT_TRUE(crypto::isVideoId(id) && id.front() != '-' && id.back() != '_' && seen.insert(id).second) << id;
    }
    for (const std::string &bad :
         {std::string(".."), std::string(23, 'a') + "/", std::string(23, 'a') + ".", std::string(25, 'a')})
        EXPECT_FALSE(crypto::isVideoId(bad)) << bad;
}

TEST(ServerConfigArgs, ParsesTheCommandLine)
{
    ParsedArgs p = parseArgs({"--listen", "[::1]:0", "--data", "/tmp/x", "--public-origin", "https://v.example.com/",
                              "--part-size=5M", "--max-video-size", "1G", "--upload-timeout", "60", "--quiet"});
    ASSERT_TRUE(p.config) << p.error;
    const ServerConfig &c = *p.config;
    EXPECT_EQ(std::tuple(c.host, c.port, c.dataDir.string(), c.publicOrigin, c.partSize, c.maxVideoBytes,
                         c.uploadTimeoutSeconds, c.logRequests),
              std::tuple("::1", 0, "/tmp/x", "https://v.example.com", 5 << 20, 1LL << 30, 60, false));
    EXPECT_TRUE(parseArgs({"--help"}).help);
    // No --data, no host, IPv6 without brackets, an origin with another scheme
    // or a path, an empty part, parts larger than a video, an unknown option.
    const std::vector<std::vector<std::string>> refused = {
        {},
        {"--data", "d", "--listen", "8787"},
        {"--data", "d", "--listen", "::1:80"},
        {"--data", "d", "--public-origin", "ftp://x"},
        {"--data", "d", "--public-origin", "https://x/path"},
        {"--data", "d", "--part-size", "0"},
        {"--data", "d", "--part-size", "2G", "--max-video-size", "1G"},
        {"--data", "d", "--bogus"}};
    for (const auto &args : refused)
        EXPECT_FALSE(parseArgs(args).config) << args.size();
}

// The title's escaping is checked in the browser, which reads it back as typed.
TEST(ServerSharePage, NamesItsLinksExpiryAndDuration)
{
    PublicVideo v{.id = "AbCdEfGhIjKlMnOpQrStUvWx", .expiresAtMs = 1700000000000, .durationMs = 61000};
    const std::string html = sharepage::render(v, "https://v.example.com");
    for (const char *part :
         {"<meta property=\"og:video\" content=\"https://v.example.com/r/AbCdEfGhIjKlMnOpQrStUvWx\">",
          "<meta property=\"og:url\" content=\"https://v.example.com/v/AbCdEfGhIjKlMnOpQrStUvWx\">",
          "Available until Tue, 14 Nov 2023 22:13 UTC", "1:01"})
        EXPECT_NE(html.find(part), std::string::npos) << part;

    v.expiresAtMs = kForeverExpiresAtMs;
    EXPECT_NE(sharepage::render(v, "http://x").find("Kept until deleted"), std::string::npos);
}
