#include "app/ExpiryText.h"

namespace ExpiryText {

bool keptForever(const QDateTime &expiresAt, const QDateTime &now)
{
    return now.secsTo(expiresAt) > kForeverThresholdSeconds;
}

QString text(const QDateTime &expiresAt, const QDateTime &now)
{
    const qint64 t = now.secsTo(expiresAt);
    if (t > kForeverThresholdSeconds)
        return QStringLiteral("Kept forever");
    if (t <= 0)
        return QStringLiteral("Expired");
    const qint64 hours = t / 3600;
    if (hours < 1) {
        const qint64 minutes = t / 60;
        return QStringLiteral("Expires in %1 minute%2").arg(std::max<qint64>(minutes, 1)).arg(minutes >= 2 ? "s" : "");
    }
    if (hours >= 48)
        return QStringLiteral("Expires in %1 days").arg(hours / 24);
    return QStringLiteral("Expires in %1 hour%2").arg(hours).arg(hours == 1 ? "" : "s");
}

} // namespace ExpiryText
