#pragma once

#include <QLocale>
#include <QString>

// Byte counts as the upload line shows them, without the unit: decimal units
// (1 KB = 1,000 bytes), whole kilobytes, megabytes with one fraction digit
// that is left out when it is zero, the locale's separators.
namespace ByteCountText {
QString megabytes(qint64 bytes, const QLocale &locale = QLocale());
QString kilobytes(qint64 bytes, const QLocale &locale = QLocale());
} // namespace ByteCountText
