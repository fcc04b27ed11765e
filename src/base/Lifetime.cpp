#include "base/Lifetime.h"

#include <QHash>
#include <QStringList>

#include <limits>

namespace {

struct Unit {
    const char *word;
    qint64 seconds;
};

constexpr Unit kUnits[] = {
    {"h", 3600},        {"hr", 3600},        {"hrs", 3600},     {"hour", 3600},   {"hours", 3600},
    {"d", 86400},       {"day", 86400},      {"days", 86400},   {"w", 604800},    {"wk", 604800},
    {"wks", 604800},    {"week", 604800},    {"weeks", 604800}, {"mo", 2592000},  {"mos", 2592000},
    {"month", 2592000}, {"months", 2592000}, {"y", 31536000},   {"yr", 31536000}, {"yrs", 31536000},
    {"year", 31536000}, {"years", 31536000},
};

constexpr qint64 kMaxSegmentNumber = 100000;

std::optional<qint64> unitSeconds(const QString &word)
{
    for (const Unit &unit : kUnits) {
        if (word == QLatin1String(unit.word))
            return unit.seconds;
    }
    return std::nullopt;
}

QString part(qint64 n, const char *unitWord)
{
    return QString::number(n) + QLatin1Char(' ') + QLatin1String(unitWord) + (n == 1 ? QString() : QStringLiteral("s"));
}

} // namespace

std::optional<Lifetime> Lifetime::parse(const QString &text)
{
    QString s;
    for (const QChar c : text.toLower()) {
        if (!c.isSpace())
            s.append(c);
    }
    if (s == QLatin1String("forever"))
        return forever();

    QString number;
    QString unit;
    qint64 total = 0;
    const auto flush = [&]() -> bool {
        if (number.isEmpty())
            return false;
        qint64 n = 0;
        for (const QChar c : number) {
            // Only ASCII digits make a plain decimal number.
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
            n = n * 10 + (c.unicode() - '0');
            if (n > kMaxSegmentNumber)
                return false;
        }
        const auto perUnit = unitSeconds(unit);
        if (!perUnit)
            return false;
        const qint64 add = n * *perUnit;
        if (total > std::numeric_limits<qint64>::max() - add)
            return false;
        total += add;
        number.clear();
        unit.clear();
        return true;
    };

    for (const QChar c : s) {
        if (c.isDigit()) {
            if (!unit.isEmpty() && !flush())
                return std::nullopt;
            number.append(c);
        } else if (c.isLetter()) {
            if (number.isEmpty())
                return std::nullopt;
            unit.append(c);
        } else {
            return std::nullopt;
        }
    }
    if (!flush())
        return std::nullopt;
    if (total < kMinimumSeconds || total > kMaximumSeconds)
        return std::nullopt;
    return ofSeconds(total);
}

const QList<Lifetime> &Lifetime::presets()
{
    static const QList<Lifetime> list = {ofSeconds(3600),   ofSeconds(86400),   ofSeconds(172800),
                                         ofSeconds(604800), ofSeconds(2592000), forever()};
    return list;
}

QString Lifetime::label() const
{
    if (m_forever)
        return QStringLiteral("Forever");
    const qint64 s = m_seconds;
    constexpr qint64 year = 31536000, month = 2592000, week = 604800, day = 86400, hour = 3600, minute = 60;
    if (s != 0 && s % year == 0)
        return part(s / year, "year");
    if (s >= 5184000 && s % month == 0)
        return part(s / month, "month");
    if (s != 0 && s % week == 0)
        return part(s / week, "week");
    QStringList parts;
    if (s >= day)
        parts << part(s / day, "day");
    if (const qint64 h = (s % day) / hour; h >= 1)
        parts << part(h, "hour");
    if (const qint64 m = (s % hour) / minute; m >= 1)
        parts << part(m, "minute");
    if (parts.isEmpty())
        return part(s, "second");
    return parts.join(QLatin1Char(' '));
}

QJsonValue Lifetime::wireValue() const
{
    if (m_forever)
        return QStringLiteral("forever");
    return QJsonValue(m_seconds);
}

QString Lifetime::secondsText() const
{
    return m_forever ? QStringLiteral("forever") : QString::number(m_seconds);
}

size_t qHash(const Lifetime &lifetime, size_t seed)
{
    return lifetime.isForever() ? qHash(-1, seed) : qHash(lifetime.seconds(), seed);
}
