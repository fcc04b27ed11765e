#include "app/LifetimePrompts.h"

#include "Await.h"

#include <deque>
#include <gtest/gtest.h>

namespace {

// Answers each showing from a script and remembers what was shown.
class ScriptedDialogs final : public LifetimeDialogs {
public:
    QCoro::Task<TextAnswer> askForText(QString, QString informativeText) override
    {
        shown << informativeText;
        const TextAnswer a = textAnswers.front();
        textAnswers.pop_front();
        co_return a;
    }
    QCoro::Task<DateAnswer> askForDate(QString message, QString informativeText, QDateTime earliest, QDateTime latest,
                                       QDateTime proposed) override
    {
        EXPECT_EQ(message, QStringLiteral("When should this video expire?"));
        shown << informativeText;
        proposals << proposed;
        lastEarliest = earliest;
        lastLatest = latest;
        const DateAnswer a = dateAnswers.front();
        dateAnswers.pop_front();
        co_return a;
    }

    std::deque<TextAnswer> textAnswers;
    std::deque<DateAnswer> dateAnswers;
    QStringList shown;
    QList<QDateTime> proposals;
    QDateTime lastEarliest, lastLatest;
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
    ASSERT_EQ(dialogs.shown.size(), 3);
    EXPECT_EQ(dialogs.shown[0], QStringLiteral("For example 12h, 3d, 2w, 3mo or 1y."));
    EXPECT_EQ(dialogs.shown[1], QStringLiteral("\"30m\" isn't a length we can use. Try 12h, 3d, 2w, 3mo or 1y: at "
                                               "least an hour, at most 10 years."));
    EXPECT_EQ(dialogs.shown[2], QStringLiteral("\"\" isn't a length we can use. Try 12h, 3d, 2w, 3mo or 1y: at "
                                               "least an hour, at most 10 years."));

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
        EXPECT_EQ(dialogs.lastEarliest, QDateTime(QDate(2026, 12, 5), QTime(0, 0)));
        EXPECT_EQ(dialogs.lastLatest, kNow.addSecs(315360000));
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
