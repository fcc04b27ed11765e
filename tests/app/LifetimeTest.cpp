#include "base/Lifetime.h"

#include <gtest/gtest.h>

namespace {

std::optional<qint64> parsedSeconds(const char *text)
{
    const auto l = Lifetime::parse(QString::fromUtf8(text));
    if (!l || l->isForever())
        return std::nullopt;
    return l->seconds();
}

TEST(LifetimeParse, AcceptsUnitsCaseAndSpacesWithinTheBounds)
{
    const std::pair<const char *, qint64> cases[] = {
        {"12H", 43200},  {" 3 d ", 259200}, {"3D12h", 302400},    {"1w3d", 864000},
        {"2h2h", 14400}, {"3mo", 7776000},  {"2 weeks", 1209600}, {"1yr", 31536000},
        {"0001h", 3600}, {"1h", 3600},      {"10y", 315360000},   {"521w", 315100800},
    };
    for (const auto &[text, seconds] : cases)
        EXPECT_EQ(parsedSeconds(text), seconds) << text;
    EXPECT_EQ(Lifetime::parse(QStringLiteral("FOREVER")), Lifetime::forever());
    EXPECT_EQ(Lifetime::parse(QStringLiteral("For Ever")), Lifetime::forever());
}

TEST(LifetimeParse, RejectsMalformedOrOutOfBoundsText)
{
    for (const char *text :
         {"30m", "59min", "1h-1", "d3", "3", "1.5d", "", "h", "3x", "forever1", "1h forever",
          "\xd9\xa3h" /* Arabic-Indic three */, "522w", "3651d", "100001h" /* one segment over 100,000 */,
          "100000h" /* 360,000,000 s: over ten years */, "99999999999999999999h"}) {
        EXPECT_FALSE(Lifetime::parse(QString::fromUtf8(text))) << text;
    }
    // Many maximal segments must not overflow into a small valid total.
    EXPECT_FALSE(Lifetime::parse(QStringLiteral("100000y").repeated(40000)));
}

TEST(LifetimeLabel, MatchesTheTable)
{
    const std::pair<qint64, const char *> cases[] = {
        {86400, "1 day"},         {172800, "2 days"},      {2592000, "30 days"},
        {7776000, "3 months"},    {3600, "1 hour"},        {90, "1 minute"},
        {30, "30 seconds"},       {5184000, "2 months"},   {1209600, "2 weeks"},
        {93600, "1 day 2 hours"}, {31536000, "1 year"},    {5400, "1 hour 30 minutes"},
        {604800, "1 week"},       {315360000, "10 years"}, {90061, "1 day 1 hour 1 minute"},
    };
    for (const auto &[seconds, label] : cases)
        EXPECT_EQ(Lifetime::ofSeconds(seconds).label(), QString::fromUtf8(label)) << seconds;
    EXPECT_EQ(Lifetime::forever().label(), QStringLiteral("Forever"));
}

} // namespace
