#include "app/LifetimePrompts.h"

#include "app/DateFormatters.h"
#include "base/Diag.h"

namespace {
constexpr qint64 kForeverThresholdSeconds = 3153600000; // 100 years: "kept forever"
constexpr qint64 kShortestEndSeconds = 3540;            // 59 minutes count as the hour

QDateTime roundedDownToMinute(const QDateTime &time)
{
    const qint64 ms = time.toMSecsSinceEpoch();
    return QDateTime::fromMSecsSinceEpoch(ms - ((ms % 60000) + 60000) % 60000, time.timeSpec());
}
} // namespace

namespace LifetimePrompts {

QCoro::Task<std::optional<Lifetime>> promptLifetime(LifetimeDialogs &dialogs, QString message)
{
    QString informative = QStringLiteral("For example 12h, 3d, 2w, 3mo or 1y.");
    while (true) {
        const LifetimeDialogs::TextAnswer answer = co_await dialogs.askForText(message, informative);
        if (!answer.set)
            co_return std::nullopt;
        if (const auto lifetime = Lifetime::parse(answer.text))
            co_return lifetime;
        informative = QLatin1Char('"') + answer.text + QLatin1Char('"') +
                      QStringLiteral(" isn't a length we can use. Try 12h, 3d, 2w, 3mo or 1y: at least an hour, at "
                                     "most 10 years.");
    }
}

QString untilIntroText(const QDateTime &expiresAt, const QDateTime &now)
{
    QString text;
    if (now.secsTo(expiresAt) > kForeverThresholdSeconds)
        text = QStringLiteral("It's kept forever now.");
    else
        text = QStringLiteral("It expires ") + DateFormatters::whenText(expiresAt) + QStringLiteral(" now.");
    return text + QStringLiteral(" Pick any time at least an hour from now.");
}

QDateTime proposedEnd(const QDateTime &now)
{
    const QDateTime latest = now.addSecs(Lifetime::kMaximumSeconds);
    QDateTime proposed = now.toLocalTime().addMonths(1);
    if (!proposed.isValid())
        proposed = now.addSecs(LifetimeBounds::kDefaultSeconds);
    if (proposed > latest)
        proposed = latest;
    return roundedDownToMinute(proposed);
}

QCoro::Task<std::optional<Lifetime>> promptUntil(LifetimeDialogs &dialogs, RecentLink link, QDateTime now)
{
    const QDateTime latest = now.addSecs(Lifetime::kMaximumSeconds);
    const QDateTime earliest = QDateTime(now.toLocalTime().date(), QTime(0, 0));
    QString informative = untilIntroText(link.expiresAt, now);
    QDateTime proposed = proposedEnd(now);
    while (true) {
        const LifetimeDialogs::DateAnswer answer = co_await dialogs.askForDate(
            QStringLiteral("When should this video expire?"), informative, earliest, latest, proposed);
        Diag::log(QStringLiteral("until: button %1, calendar %2, time %3")
                      .arg(QString::number(answer.code), answer.calendar.toString(Qt::ISODate),
                           answer.time.toString(Qt::ISODate)));
        if (!answer.set)
            co_return std::nullopt;
        const QTime clock = answer.time.toLocalTime().time();
        QDateTime chosen(answer.calendar.toLocalTime().date(), QTime(clock.hour(), clock.minute()));
        if (!chosen.isValid())
            co_return std::nullopt;
        if (chosen > latest)
            chosen = latest;
        const qint64 seconds = now.msecsTo(chosen) / 1000; // truncated toward zero
        if (seconds >= kShortestEndSeconds)
            co_return Lifetime::ofSeconds(std::max(seconds, Lifetime::kMinimumSeconds));
        informative =
            DateFormatters::whenText(chosen) + QStringLiteral(" is less than an hour away. Pick a later time.");
        proposed = chosen;
    }
}

} // namespace LifetimePrompts
