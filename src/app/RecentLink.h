#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

// One uploaded video as this machine remembers it.
struct RecentLink {
    QString id;
    QString shareUrl;
    QString title;
    QDateTime createdAt;
    QDateTime expiresAt;

    friend bool operator==(const RecentLink &, const RecentLink &) = default;
};

namespace RecentLinkCoding {
// Stored form: a JSON array of objects with the keys "id", "shareUrl",
// "title", "createdAt", "expiresAt" in that order; dates are seconds (with
// fraction) since 2001-01-01 00:00:00 UTC.
QByteArray encode(const QList<RecentLink> &links);
// None when the data is not such an array or any entry lacks a key or has a
// key of the wrong type.
std::optional<QList<RecentLink>> decode(const QByteArray &data);

double secondsSinceReferenceDate(const QDateTime &time);
QDateTime fromSecondsSinceReferenceDate(double seconds);
// Service times are milliseconds since 1970.
QDateTime fromEpochMilliseconds(qint64 ms);
} // namespace RecentLinkCoding
