#include "app/RecentLink.h"

#include <gtest/gtest.h>

namespace {

RecentLink sample()
{
    return RecentLink{QStringLiteral("ab12"), QStringLiteral("https://example.test/v/ab12"),
                      QStringLiteral("Say \"hi\" \u00e9\n"),
                      QDateTime::fromMSecsSinceEpoch(978307200000 + 1500, Qt::UTC),
                      QDateTime::fromMSecsSinceEpoch(1800000000123, Qt::UTC)};
}

TEST(RecentLinkCoding, WritesKeysInOrderWithReferenceDateSeconds)
{
    const QByteArray json = RecentLinkCoding::encode({sample()});
    EXPECT_EQ(json, QByteArray("[{\"id\":\"ab12\",\"shareUrl\":\"https://example.test/v/ab12\","
                               "\"title\":\"Say \\\"hi\\\" \xc3\xa9\\n\",\"createdAt\":1.5,"
                               "\"expiresAt\":821692800.123}]"));
    EXPECT_EQ(RecentLinkCoding::encode({}), QByteArray("[]"));
}

TEST(RecentLinkCoding, RejectsMissingOrMistypedKeys)
{
    const char *const bad[] = {
        "[{\"id\":\"a\",\"shareUrl\":\"u\",\"createdAt\":1,\"expiresAt\":2}]",             // no title
        "[{\"id\":\"a\",\"shareUrl\":\"u\",\"title\":5,\"createdAt\":1,\"expiresAt\":2}]", // title a number
        "[{\"id\":\"a\",\"shareUrl\":\"u\",\"title\":\"t\",\"createdAt\":\"1\",\"expiresAt\":2}]",
        "[{\"id\":\"a\",\"shareUrl\":\"u\",\"title\":\"t\",\"createdAt\":1,\"expiresAt\":null}]",
        "[{\"id\":\"a\",\"shareUrl\":\"u\",\"title\":\"t\",\"createdAt\":1,\"expiresAt\":1e300}]",
        "[1]",
        "{\"id\":\"a\"}",
        "[{\"id\":\"a\"",
        "",
    };
    for (const char *text : bad)
        EXPECT_FALSE(RecentLinkCoding::decode(QByteArray(text))) << text;
    // Extra keys are fine; key order on reading does not matter.
    EXPECT_TRUE(RecentLinkCoding::decode(
        "[{\"expiresAt\":2,\"title\":\"t\",\"x\":0,\"id\":\"a\",\"shareUrl\":\"u\",\"createdAt\":1}]"));
}

} // namespace
