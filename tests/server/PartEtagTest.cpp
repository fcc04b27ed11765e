// Part etags after the machine went down: start-up re-digests each recorded
// part with the digest its etag names, so parts stored by an older server
// (SHA-256 etags) still count when whole, and a torn part of either form does not.
#include "ServerTestSupport.h"
#include "SqliteMetadata.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace servertest;
namespace fs = std::filesystem;

constexpr std::int64_t kPartSize = kServerPartSize;
constexpr int kParts = 4;

// Per part: whether its row carries an old (SHA-256) etag, whether its bytes
// were torn by the power cut, and whether start-up keeps it.
TEST(PartEtag, RecoveryChecksEachPartByTheDigestItsEtagNames)
{
    const bool oldEtag[kParts] = {false, true, false, true}, torn[kParts] = {false, false, true, true};
    TempDir dir;
    const fs::path data = dir.path() / "data";
    const std::string token = newToken();
    const std::string bytes = videoBytes(kParts * kPartSize);
    std::string uploading, completing, tornCompleting;
    {
        InProcessServer server({}, data);
        const Api api = server.api(token);
        for (std::string *id : {&uploading, &completing, &tornCompleting}) {
            *id = api.create();
            api.putParts(*id, bytes, kPartSize);
        }
    }
    {
        // What an older server left: SHA-256 etags, and two completes accepted.
        SqliteMetadata metadata(data / "mivra.sqlite3");
        for (int n = 1; n <= kParts; ++n) {
            const std::string sha = crypto::sha256Hex(bytes.substr(std::size_t(n - 1) * kPartSize, kPartSize));
            if (oldEtag[n - 1])
                metadata.putPart(uploading, PartRow{n, kPartSize, sha});
            for (const std::string &id : {completing, tornCompleting})
                metadata.putPart(id, PartRow{n, kPartSize, sha});
        }
        for (const std::string &id : {completing, tornCompleting}) {
            VideoRow row = *metadata.findVideo(id);
            row.sizeBytes = std::int64_t(bytes.size());
            ASSERT_TRUE(metadata.beginComplete(row, kParts));
        }
    }
    auto tear = [&](const std::string &id, int number) {
        std::fstream f(data / "uploads" / id, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(std::int64_t(number - 1) * kPartSize + 100);
        f.write("\0\0\0\0", 4);
    };
    for (int n = 1; n <= kParts; ++n)
        if (torn[n - 1])
            tear(uploading, n);
    tear(tornCompleting, 3);
    std::ofstream(data / "boot-id") << "a boot before this one\n";

    InProcessServer server({}, data);
    std::vector<int> kept;
    for (const PartRow &p : server.service().metadata().parts(uploading))
        kept.push_back(p.number);
    EXPECT_EQ(kept, (std::vector<int>{1, 2})); // the untorn ones

    const Api api = server.api(token);
    EXPECT_TRUE(api.publicGet("/r/" + completing).body == bytes)
        << "a complete with old etags is finished with its own bytes";
    EXPECT_EQ(api.publicGet("/r/" + tornCompleting).status, 404) << "a torn complete is never served";
}
