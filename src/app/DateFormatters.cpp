#include "app/DateFormatters.h"

namespace {

// The locale's short time format without seconds.
QString shortTimeFormat(const QLocale &locale)
{
    QString format = locale.timeFormat(QLocale::ShortFormat);
    format.remove(QStringLiteral(":ss"));
    return format;
}

bool monthFirst(const QLocale &locale)
{
    const QString shortDate = locale.dateFormat(QLocale::ShortFormat);
    return shortDate.indexOf(QLatin1Char('M')) < shortDate.indexOf(QLatin1Char('d'));
}

} // namespace

namespace DateFormatters {

QString whenText(const QDateTime &time, const QLocale &locale)
{
    const QString date = monthFirst(locale) ? QStringLiteral("ddd MMM d") : QStringLiteral("ddd d MMM");
    return locale.toString(time.toLocalTime(), date + QLatin1Char(' ') + shortTimeFormat(locale));
}

QString titleText(const QDateTime &time, const QLocale &locale)
{
    const QString date = monthFirst(locale) ? QStringLiteral("MMM d, yyyy") : QStringLiteral("d MMM yyyy");
    return locale.toString(time.toLocalTime(), date + QStringLiteral(", ") + shortTimeFormat(locale));
}

} // namespace DateFormatters
