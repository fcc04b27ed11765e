#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

// Shared date texts in the user's locale.
namespace DateFormatters {
// "Sat Dec 5 8:55 AM" or "Sat Dec 5 08:55": weekday, month, day and the time
// in the locale's 12- or 24-hour style.
QString whenText(const QDateTime &time, const QLocale &locale = QLocale());
// Medium date and short time, for the titles of new videos ("Dec 5, 2026, 8:55 AM").
QString titleText(const QDateTime &time, const QLocale &locale = QLocale());
} // namespace DateFormatters
