#include "app/RecentLink.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace {

// 2001-01-01T00:00:00Z in seconds since 1970.
constexpr qint64 kReferenceDateEpochSeconds = 978307200;

// One JSON value in its compact text form (strings escaped as JSON wants).
QByteArray jsonText(const QJsonValue &value)
{
    QByteArray text = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return text.mid(1, text.size() - 2);
}

// A number of seconds a date can hold (about 30,000 years either way).
bool isStoredDate(const QJsonValue &value)
{
    return value.isDouble() && std::isfinite(value.toDouble()) && std::fabs(value.toDouble()) < 1e12;
}

} // namespace

namespace RecentLinkCoding {

double secondsSinceReferenceDate(const QDateTime &time)
{
    return double(time.toMSecsSinceEpoch() - kReferenceDateEpochSeconds * 1000) / 1000.0;
}

QDateTime fromSecondsSinceReferenceDate(double seconds)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(std::llround(seconds * 1000.0)) + kReferenceDateEpochSeconds * 1000,
                                          Qt::UTC);
}

QDateTime fromEpochMilliseconds(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
}

QByteArray encode(const QList<RecentLink> &links)
{
    // Written by hand: the key order is part of the stored form, and
    // QJsonObject would sort the keys.
    QByteArray out = "[";
    for (qsizetype i = 0; i < links.size(); ++i) {
        const RecentLink &link = links.at(i);
        if (i > 0)
            out += ',';
        out += "{\"id\":" + jsonText(link.id);
        out += ",\"shareUrl\":" + jsonText(link.shareUrl);
        out += ",\"title\":" + jsonText(link.title);
        out += ",\"createdAt\":" + jsonText(secondsSinceReferenceDate(link.createdAt));
        out += ",\"expiresAt\":" + jsonText(secondsSinceReferenceDate(link.expiresAt));
        out += '}';
    }
    out += ']';
    return out;
}

std::optional<QList<RecentLink>> decode(const QByteArray &data)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray())
        return std::nullopt;
    QList<RecentLink> links;
    for (const QJsonValue &entry : doc.array()) {
        if (!entry.isObject())
            return std::nullopt;
        const QJsonObject o = entry.toObject();
        const QJsonValue id = o.value(QLatin1String("id"));
        const QJsonValue shareUrl = o.value(QLatin1String("shareUrl"));
        const QJsonValue title = o.value(QLatin1String("title"));
        const QJsonValue createdAt = o.value(QLatin1String("createdAt"));
        const QJsonValue expiresAt = o.value(QLatin1String("expiresAt"));
        if (!id.isString() || !shareUrl.isString() || !title.isString() || !isStoredDate(createdAt) ||
            !isStoredDate(expiresAt))
            return std::nullopt;
        links.append(RecentLink{id.toString(), shareUrl.toString(), title.toString(),
                                fromSecondsSinceReferenceDate(createdAt.toDouble()),
                                fromSecondsSinceReferenceDate(expiresAt.toDouble())});
    }
    return links;
}

} // namespace RecentLinkCoding
