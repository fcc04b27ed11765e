#include "app/Phase.h"
#include "app/ByteCountText.h"
#include "app/OneShot.h"
#include "app/RecordingClock.h"

#include <gtest/gtest.h>

namespace {

const QLocale kEnglish(QLocale::English, QLocale::UnitedStates);

TEST(PhaseUploadText, PlainUntilTheSizeIsKnownThenKilobytesOrMegabytes)
{
    const std::pair<Phase, const char *> cases[] = {
        {Phase::idle(), "Uploading\u2026"},
        {Phase::recording(QDateTime::currentDateTime()), "Uploading\u2026"},
        {Phase::uploading(0, 0), "Uploading\u2026"},
        {Phase::uploading(5, -1), "Uploading\u2026"},
        {Phase::uploading(6172839, 12345678), "Uploading 50% \u00b7 6.2 of 12.3 MB"},
        // The percentage is truncated, never rounded up to 100.
        {Phase::uploading(1999999, 2000000), "Uploading 99% \u00b7 2 of 2 MB"},
        {Phase::uploading(0, 1000000), "Uploading 0% \u00b7 0 of 1 MB"},
        {Phase::uploading(12000000, 12000000), "Uploading 100% \u00b7 12 of 12 MB"},
        // Kilobytes up to 999,999 bytes.
        {Phase::uploading(250000, 999999), "Uploading 25% \u00b7 250 of 1,000 KB"},
        {Phase::uploading(1, 3), "Uploading 33% \u00b7 0 of 0 KB"},
    };
    for (const auto &[phase, text] : cases)
        EXPECT_EQ(phase.uploadText(kEnglish), QString::fromUtf8(text)) << text;
}

TEST(ByteCountText, DecimalUnitsAdaptivePrecisionAndLocaleSeparators)
{
    const QLocale german(QLocale::German);
    EXPECT_EQ(ByteCountText::megabytes(11960000, kEnglish), QStringLiteral("12"));
    EXPECT_EQ(ByteCountText::megabytes(1234567890, kEnglish), QStringLiteral("1,234.6"));
    EXPECT_EQ(ByteCountText::megabytes(12345678, german), QStringLiteral("12,3"));
    EXPECT_EQ(ByteCountText::kilobytes(1499, kEnglish), QStringLiteral("1"));
}

TEST(RecordingClock, ElapsedTextKeepsCountingMinutesPastAnHour)
{
    // A clock set back during the recording shows zero, not "-1:-5".
    const std::pair<qint64, const char *> cases[] = {{0, "0:00"},     {59, "0:59"},        {61, "1:01"},
                                                     {3725, "62:05"}, {360000, "6000:00"}, {-65, "0:00"}};
    for (const auto &[seconds, text] : cases)
        EXPECT_EQ(RecordingClock::elapsedText(seconds), QString::fromLatin1(text)) << seconds;
}

TEST(OneShot, OnlyTheFirstArrivalCleansUpAndResumes)
{
    int resumed = 0;
    int cleaned = 0;
    OneShot once([&] { ++resumed; });
    once.setCleanup([&] {
        ++cleaned;
        EXPECT_EQ(resumed, 0) << "observers go before the task resumes";
    });
    EXPECT_FALSE(once.fired());
    const bool first = once.fire();
    const bool second = once.fire();
    EXPECT_EQ(std::tuple(first, second, once.fired(), resumed, cleaned), std::tuple(true, false, true, 1, 1));
}

} // namespace
