#include "service/WireDecoding.h"

#include "service/ServiceErrors.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QString jsonTypeName(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return QStringLiteral("a boolean");
    case QJsonValue::Double:
        return QStringLiteral("a number");
    case QJsonValue::String:
        return QStringLiteral("a string");
    case QJsonValue::Array:
        return QStringLiteral("an array");
    case QJsonValue::Object:
        return QStringLiteral("an object");
    case QJsonValue::Undefined:
        break;
    }
    return QStringLiteral("undefined");
}

// One JSON object being read into a record; every failure names the record
// and the key so the log says what the server got wrong.
class Fields {
public:
    Fields(const char *recordName, QJsonObject object) : m_record(QLatin1String(recordName)), m_object(object) {}

    static Fields parse(const char *recordName, const QByteArray &body)
    {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(body, &error);
        if (error.error != QJsonParseError::NoError)
            throw ReplyDecodingError(
                QLatin1String(recordName),
                QStringLiteral("it is not valid JSON (%1 at byte %2)").arg(error.errorString()).arg(error.offset));
        if (!document.isObject())
            throw ReplyDecodingError(QLatin1String(recordName), QStringLiteral("it is not a JSON object"));
        return Fields(recordName, document.object());
    }

    QString text(const QString &key) const
    {
        const QJsonValue v = required(key);
        if (!v.isString())
            throw mistyped(key, QStringLiteral("a string"), v);
        return v.toString();
    }

    std::optional<QString> optionalText(const QString &key) const
    {
        const QJsonValue v = m_object.value(key);
        if (v.isUndefined() || v.isNull())
            return std::nullopt;
        if (!v.isString())
            throw mistyped(key, QStringLiteral("a string"), v);
        return v.toString();
    }

    qint64 integer(const QString &key) const
    {
        const QJsonValue v = required(key);
        if (v.isDouble()) {
            // toInteger returns its fallback for fractions and out-of-range
            // values; two different fallbacks tell that apart from a real 0/1.
            const qint64 a = v.toInteger(0);
            const qint64 b = v.toInteger(1);
            if (a == b)
                return a;
        }
        throw mistyped(key, QStringLiteral("a 64-bit integer"), v);
    }

    QJsonArray array(const QString &key) const
    {
        const QJsonValue v = required(key);
        if (!v.isArray())
            throw mistyped(key, QStringLiteral("an array"), v);
        return v.toArray();
    }

    ReplyDecodingError failure(const QString &problem) const { return ReplyDecodingError(m_record, problem); }

private:
    QJsonValue required(const QString &key) const
    {
        const QJsonValue v = m_object.value(key);
        if (v.isUndefined())
            throw failure(QStringLiteral("the key \"%1\" is missing").arg(key));
        return v;
    }

    ReplyDecodingError mistyped(const QString &key, const QString &expected, const QJsonValue &found) const
    {
        return failure(QStringLiteral("the key \"%1\" holds %2 instead of %3").arg(key, jsonTypeName(found), expected));
    }

    QString m_record;
    QJsonObject m_object;
};

} // namespace

template <> CreateResponse decodeReply<CreateResponse>(const QByteArray &body)
{
    const Fields f = Fields::parse("CreateResponse", body);
    CreateResponse r;
    r.id = f.text(QStringLiteral("id"));
    r.partSize = f.integer(QStringLiteral("partSize"));
    r.shareUrl = f.text(QStringLiteral("shareUrl"));
    r.expiresAtMs = f.integer(QStringLiteral("expiresAt"));
    return r;
}

template <> PartResponse decodeReply<PartResponse>(const QByteArray &body)
{
    const Fields f = Fields::parse("PartResponse", body);
    PartResponse r;
    r.partNumber = f.integer(QStringLiteral("partNumber"));
    r.etag = f.text(QStringLiteral("etag"));
    return r;
}

template <> VideoInfo decodeReply<VideoInfo>(const QByteArray &body)
{
    const Fields f = Fields::parse("VideoInfo", body);
    VideoInfo r;
    r.id = f.text(QStringLiteral("id"));
    r.shareUrl = f.text(QStringLiteral("shareUrl"));
    r.expiresAtMs = f.integer(QStringLiteral("expiresAt"));
    return r;
}

template <> VideoList decodeReply<VideoList>(const QByteArray &body)
{
    const Fields f = Fields::parse("VideoList", body);
    VideoList list;
    const QJsonArray videos = f.array(QStringLiteral("videos"));
    list.videos.reserve(videos.size());
    for (qsizetype i = 0; i < videos.size(); ++i) {
        const QJsonValue element = videos.at(i);
        if (!element.isObject())
            throw f.failure(
                QStringLiteral("video %1 of the list is %2 instead of an object").arg(i).arg(jsonTypeName(element)));
        const Fields item("VideoList.Item", element.toObject());
        VideoList::Item r;
        r.id = item.text(QStringLiteral("id"));
        r.expiresAtMs = item.integer(QStringLiteral("expiresAt"));
        r.title = item.optionalText(QStringLiteral("title"));
        list.videos.append(r);
    }
    list.next = f.optionalText(QStringLiteral("next"));
    return list;
}

template <> KeepResponse decodeReply<KeepResponse>(const QByteArray &body)
{
    const Fields f = Fields::parse("KeepResponse", body);
    KeepResponse r;
    r.id = f.text(QStringLiteral("id"));
    r.expiresAtMs = f.integer(QStringLiteral("expiresAt"));
    return r;
}

template <> TitleResponse decodeReply<TitleResponse>(const QByteArray &body)
{
    const Fields f = Fields::parse("TitleResponse", body);
    TitleResponse r;
    r.id = f.text(QStringLiteral("id"));
    r.title = f.text(QStringLiteral("title"));
    return r;
}
