#include "app/DateFormatters.h"

#include <gtest/gtest.h>

namespace {

const QDateTime kMorning = QDateTime(QDate(2026, 12, 5), QTime(8, 5, 59));
const QDateTime kEvening = QDateTime(QDate(2026, 12, 5), QTime(20, 30));

TEST(DateFormatters, WhenTextFollowsTheClockStyleOfTheLocale)
{
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    const QString usText = DateFormatters::whenText(kEvening, us);
    EXPECT_TRUE(usText.startsWith(QStringLiteral("Sat Dec 5 8:30"))) << usText.toStdString();
    EXPECT_TRUE(usText.contains(QStringLiteral("PM"))) << usText.toStdString();

    const QLocale de(QLocale::German, QLocale::Germany);
    const QString deText = DateFormatters::whenText(kEvening, de);
    EXPECT_TRUE(deText.endsWith(QStringLiteral("20:30"))) << deText.toStdString();
    EXPECT_FALSE(deText.contains(QStringLiteral(":00")));
}

TEST(DateFormatters, TitleTextHasTheDateAndTheMinute)
{
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    const QString text = DateFormatters::titleText(kMorning, us);
    EXPECT_TRUE(text.startsWith(QStringLiteral("Dec 5, 2026, 8:05"))) << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral(":59")));
}

} // namespace
