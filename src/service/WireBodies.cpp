#include "service/WireBodies.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

void addFrame(QJsonObject &object, std::optional<qint64> durationMs, std::optional<int> width,
              std::optional<int> height)
{
    if (durationMs)
        object.insert(QStringLiteral("durationMs"), QJsonValue(*durationMs));
    if (width)
        object.insert(QStringLiteral("width"), QJsonValue(*width));
    if (height)
        object.insert(QStringLiteral("height"), QJsonValue(*height));
}

} // namespace

namespace WireBodies {

QByteArray create(const QString &title, std::optional<qint64> durationMs, std::optional<int> width,
                  std::optional<int> height, const std::optional<Lifetime> &lifetime)
{
    QJsonObject object{{QStringLiteral("title"), title}, {QStringLiteral("contentType"), QStringLiteral("video/mp4")}};
    addFrame(object, durationMs, width, height);
    if (lifetime)
        object.insert(QStringLiteral("lifetime"), lifetime->wireValue());
    return compact(object);
}

QByteArray complete(const QMap<qint64, PartResponse> &parts, std::optional<qint64> durationMs, std::optional<int> width,
                    std::optional<int> height)
{
    QJsonArray list;
    for (auto it = parts.cbegin(); it != parts.cend(); ++it)
        list.append(QJsonObject{{QStringLiteral("partNumber"), QJsonValue(it->partNumber)},
                                {QStringLiteral("etag"), it->etag}});
    QJsonObject object{{QStringLiteral("parts"), list}};
    addFrame(object, durationMs, width, height);
    return compact(object);
}

QByteArray title(const QString &title)
{
    return compact(QJsonObject{{QStringLiteral("title"), title}});
}

QByteArray expiry(const Lifetime &lifetime)
{
    return compact(QJsonObject{{QStringLiteral("lifetime"), lifetime.wireValue()}});
}

} // namespace WireBodies
