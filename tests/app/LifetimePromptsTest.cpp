#include "app/LifetimePrompts.h"

#include "Await.h"

#include <gtest/gtest.h>

namespace {

// Answers each showing from a script and remembers what was shown.
class ScriptedDialogs final : public LifetimeDialogs {
public:
    QCoro::Task<TextAnswer> askForText(QString, QString informativeText) override
    {
        shown << informativeText;
        co_return textAnswers.takeFirst();
    }
    QCoro::Task<DateAnswer> askForDate(QString message, QString informativeText, QDateTime earliest, QDateTime latest,
                                       QDateTime proposed) override
    {
        EXPECT_EQ(message, QStringLiteral("When should this video expire?"));
        shown << informativeText;
        proposals << proposed;
        bounds = earliest.toString(Qt::ISODate) + " to " + latest.toString(Qt::ISODate);
        co_return dateAnswers.takeFirst();
    }

    QList<TextAnswer> textAnswers;
    QList<DateAnswer> dateAnswers;
    QStringList shown;
    QList<QDateTime> proposals;
    QString bounds; // the pickers' earliest and latest
};

LifetimeDialogs::DateAnswer setAt(const QDateTime &when)
{
    return {LifetimePrompts::kSetAnswerCode, true, when, when};
}

const QDateTime kNow = QDateTime(QDate(2026, 12, 5), QTime(8, 55, 30));
const RecentLink kLink{QStringLiteral("a"), {}, {}, kNow, kNow.addDays(1)};

TEST(PromptLifetime, ExplainsAndAsksAgainUntilValid)
{
    ScriptedDialogs dialogs;
    dialogs.textAnswers = {{true, QStringLiteral("30m")}, {true, QStringLiteral("")}, {true, QStringLiteral("3d")}};
    const auto result = run(LifetimePrompts::promptLifetime(dialogs, QStringLiteral("Keep new videos for")));
    EXPECT_EQ(result, Lifetime::ofSeconds(259200));
    const QString retry = " isn't a length we can use. Try 12h, 3d, 2w, 3mo or 1y: at least an hour, at most 10 years.";
    EXPECT_EQ(dialogs.shown, QStringList({"For example 12h, 3d, 2w, 3mo or 1y.", "\"30m\"" + retry, "\"\"" + retry}));

    dialogs.textAnswers = {{false, QStringLiteral("3d")}}; // cancelled
    EXPECT_EQ(run(LifetimePrompts::promptLifetime(dialogs, QStringLiteral("m"))), std::nullopt);
}

TEST(PromptUntil, IntroSaysForeverOrTheCurrentEnd)
{
    EXPECT_EQ(LifetimePrompts::untilIntroText(kNow.addSecs(3153600001), kNow),
              QStringLiteral("It's kept forever now. Pick any time at least an hour from now."));
    const QString text = LifetimePrompts::untilIntroText(kNow.addDays(3), kNow);
    EXPECT_TRUE(text.startsWith(QStringLiteral("It expires "))) << text.toStdString();
    EXPECT_TRUE(text.endsWith(QStringLiteral(" now. Pick any time at least an hour from now.")));
}

TEST(PromptUntil, ProposesOneMonthRoundedDownToTheMinute)
{
    EXPECT_EQ(LifetimePrompts::proposedEnd(kNow), QDateTime(QDate(2027, 1, 5), QTime(8, 55)));
    // Month ends clamp to the last day of the next month.
    EXPECT_EQ(LifetimePrompts::proposedEnd(QDateTime(QDate(2027, 1, 31), QTime(10, 0, 59))),
              QDateTime(QDate(2027, 2, 28), QTime(10, 0)));
}

TEST(PromptUntil, TheChosenMomentBecomesALifetimeWithinTheBounds)
{
    const struct {
        const char *name;
        LifetimeDialogs::DateAnswer answer;
        std::optional<Lifetime> lifetime;
    } cases[] = {
        // The pickers hold whole minutes: 8:55:30 + 59:30 = 9:55:00.
        {"59.5 minutes count as an hour", setAt(kNow.addSecs(3570)), Lifetime::ofSeconds(3600)},
        {"clamped to ten years", setAt(kNow.addYears(20)), Lifetime::ofSeconds(315360000)},
        {"cancelled", {LifetimePrompts::kCancelAnswerCode, false, kNow.addDays(2), kNow.addDays(2)}, std::nullopt},
    };
    for (const auto &c : cases) {
        ScriptedDialogs dialogs;
        dialogs.dateAnswers = {c.answer};
        EXPECT_EQ(run(LifetimePrompts::promptUntil(dialogs, kLink, kNow)), c.lifetime) << c.name;
        EXPECT_EQ(dialogs.bounds, "2026-12-05T00:00:00 to 2036-12-02T08:55:30");
    }
}

TEST(PromptUntil, TooSoonExplainsAndProposesTheChosenMoment)
{
    ScriptedDialogs dialogs;
    const QDateTime soon = QDateTime(QDate(2026, 12, 5), QTime(9, 30));
    dialogs.dateAnswers = {setAt(soon), setAt(QDateTime(QDate(2026, 12, 8), QTime(8, 55)))};
    EXPECT_EQ(run(LifetimePrompts::promptUntil(dialogs, kLink, kNow)), Lifetime::ofSeconds(3 * 86400 - 30));
    ASSERT_EQ(dialogs.shown.size(), 2);
    EXPECT_TRUE(dialogs.shown[1].endsWith(QStringLiteral(" is less than an hour away. Pick a later time.")));
    EXPECT_EQ(dialogs.proposals[1], soon);
}

} // namespace
