#include "app/Phase.h"
#include "app/ByteCountText.h"
#include "app/OneShot.h"
#include "app/RecordingClock.h"

#include <gtest/gtest.h>

namespace {

const QLocale kEnglish(QLocale::English, QLocale::UnitedStates);

TEST(PhaseUploadText, PlainUntilTheSizeIsKnown)
{
    EXPECT_EQ(Phase::idle().uploadText(kEnglish), QStringLiteral("Uploading\u2026"));
    EXPECT_EQ(Phase::recording(QDateTime::currentDateTime()).uploadText(kEnglish), QStringLiteral("Uploading\u2026"));
    EXPECT_EQ(Phase::uploading(0, 0).uploadText(kEnglish), QStringLiteral("Uploading\u2026"));
    EXPECT_EQ(Phase::uploading(5, -1).uploadText(kEnglish), QStringLiteral("Uploading\u2026"));
}

TEST(PhaseUploadText, MegabytesAboveNineHundredNinetyNineThousandBytes)
{
    EXPECT_EQ(Phase::uploading(6172839, 12345678).uploadText(kEnglish),
              QStringLiteral("Uploading 50% \u00b7 6.2 of 12.3 MB"));
    // The percentage is truncated, never rounded up to 100.
    EXPECT_EQ(Phase::uploading(1999999, 2000000).uploadText(kEnglish),
              QStringLiteral("Uploading 99% \u00b7 2 of 2 MB"));
    EXPECT_EQ(Phase::uploading(0, 1000000).uploadText(kEnglish), QStringLiteral("Uploading 0% \u00b7 0 of 1 MB"));
    EXPECT_EQ(Phase::uploading(12000000, 12000000).uploadText(kEnglish),
              QStringLiteral("Uploading 100% \u00b7 12 of 12 MB"));
}

TEST(PhaseUploadText, KilobytesUpToNineHundredNinetyNineThousandBytes)
{
    EXPECT_EQ(Phase::uploading(250000, 999999).uploadText(kEnglish),
              QStringLiteral("Uploading 25% \u00b7 250 of 1,000 KB"));
    EXPECT_EQ(Phase::uploading(1, 3).uploadText(kEnglish), QStringLiteral("Uploading 33% \u00b7 0 of 0 KB"));
}

TEST(ByteCountText, DecimalUnitsAdaptivePrecisionAndLocaleSeparators)
{
    EXPECT_EQ(ByteCountText::megabytes(12000000, kEnglish), QStringLiteral("12"));
    EXPECT_EQ(ByteCountText::megabytes(11960000, kEnglish), QStringLiteral("12"));
    EXPECT_EQ(ByteCountText::megabytes(12345678, kEnglish), QStringLiteral("12.3"));
    EXPECT_EQ(ByteCountText::megabytes(1234567890, kEnglish), QStringLiteral("1,234.6"));
    EXPECT_EQ(ByteCountText::megabytes(12345678, QLocale(QLocale::German)), QStringLiteral("12,3"));
    EXPECT_EQ(ByteCountText::kilobytes(999999, kEnglish), QStringLiteral("1,000"));
    EXPECT_EQ(ByteCountText::kilobytes(1499, kEnglish), QStringLiteral("1"));
    EXPECT_EQ(ByteCountText::kilobytes(0, kEnglish), QStringLiteral("0"));
}

TEST(RecordingClock, ElapsedTextKeepsCountingMinutesPastAnHour)
{
    EXPECT_EQ(RecordingClock::elapsedText(0), QStringLiteral("0:00"));
    EXPECT_EQ(RecordingClock::elapsedText(59), QStringLiteral("0:59"));
    EXPECT_EQ(RecordingClock::elapsedText(61), QStringLiteral("1:01"));
    EXPECT_EQ(RecordingClock::elapsedText(3725), QStringLiteral("62:05"));
    EXPECT_EQ(RecordingClock::elapsedText(4505), QStringLiteral("75:05"));
    EXPECT_EQ(RecordingClock::elapsedText(360000), QStringLiteral("6000:00"));
    // A clock set back during the recording shows zero, not "-1:-5".
    EXPECT_EQ(RecordingClock::elapsedText(-65), QStringLiteral("0:00"));
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
    EXPECT_TRUE(once.fire());
    EXPECT_FALSE(once.fire());
    EXPECT_TRUE(once.fired());
    EXPECT_EQ(resumed, 1);
    EXPECT_EQ(cleaned, 1);
}

} // namespace
