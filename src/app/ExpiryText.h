#pragma once

#include <QDateTime>
#include <QString>

// How the recent links describe their end: "Expires in 3 hours", "Expired",
// "Kept forever".
namespace ExpiryText {
// Further away than 100 years (of 365 days) counts as kept forever.
inline constexpr qint64 kForeverThresholdSeconds = 3153600000;

QString text(const QDateTime &expiresAt, const QDateTime &now);
bool keptForever(const QDateTime &expiresAt, const QDateTime &now);
} // namespace ExpiryText
