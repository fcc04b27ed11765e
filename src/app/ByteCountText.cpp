#include "app/ByteCountText.h"

#include <cmath>

namespace ByteCountText {

QString megabytes(qint64 bytes, const QLocale &locale)
{
    // Round to tenths first so that 11,960,000 reads "12", not "12.0".
    const double tenths = std::round(static_cast<double>(bytes) / 100000.0);
    const bool whole = std::fmod(tenths, 10.0) == 0.0;
    return locale.toString(tenths / 10.0, 'f', whole ? 0 : 1);
}

QString kilobytes(qint64 bytes, const QLocale &locale)
{
    return locale.toString(std::round(static_cast<double>(bytes) / 1000.0), 'f', 0);
}

} // namespace ByteCountText
