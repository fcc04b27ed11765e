#include "platform/FilePreferenceStore.h"

#include "base/Diag.h"
#include "base/Paths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <cmath>

namespace {

std::optional<PrefValue> decodeEntry(const QJsonValue &entry)
{
    if (!entry.isObject())
        return std::nullopt;
    const QJsonObject o = entry.toObject();
    const QString type = o.value(QStringLiteral("type")).toString();
    const QJsonValue v = o.value(QStringLiteral("value"));
    if (type == QLatin1String("bool") && v.isBool())
        return PrefValue(v.toBool());
    if (type == QLatin1String("int") && v.isDouble()) {
        const double d = v.toDouble();
        // Integers are stored as JSON numbers; anything with a fraction, or
        // too large for 64 bits (a hand-edited file), is not one.
        constexpr double kLimit = 9223372036854775808.0; // 2^63
        if (!(d >= -kLimit && d < kLimit) || d != std::trunc(d))
            return std::nullopt;
        return PrefValue(qint64(d));
    }
    if (type == QLatin1String("int") && v.isString()) {
        bool ok = false;
        const qint64 n = v.toString().toLongLong(&ok);
        return ok ? std::optional<PrefValue>(PrefValue(n)) : std::nullopt;
    }
    if (type == QLatin1String("text") && v.isString())
        return PrefValue(v.toString());
    if (type == QLatin1String("data") && v.isString()) {
        auto decoded = QByteArray::fromBase64Encoding(v.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded)
            return std::nullopt;
        return PrefValue(*decoded);
    }
    if (type == QLatin1String("numbers") && v.isArray()) {
        QList<double> list;
        for (const QJsonValue &n : v.toArray()) {
            if (!n.isDouble())
                return std::nullopt;
            list.append(n.toDouble());
        }
        return PrefValue(list);
    }
    return std::nullopt;
}

QJsonObject encodeEntry(const PrefValue &value)
{
    QJsonObject o;
    std::visit(
        [&o](const auto &v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, bool>) {
                o.insert(QStringLiteral("type"), QStringLiteral("bool"));
                o.insert(QStringLiteral("value"), v);
            } else if constexpr (std::is_same_v<T, qint64>) {
                o.insert(QStringLiteral("type"), QStringLiteral("int"));
                // Large integers lose precision as JSON doubles: store those as text.
                if (v > (qint64(1) << 53) || v < -(qint64(1) << 53))
                    o.insert(QStringLiteral("value"), QString::number(v));
                else
                    o.insert(QStringLiteral("value"), double(v));
            } else if constexpr (std::is_same_v<T, QString>) {
                o.insert(QStringLiteral("type"), QStringLiteral("text"));
                o.insert(QStringLiteral("value"), v);
            } else if constexpr (std::is_same_v<T, QByteArray>) {
                o.insert(QStringLiteral("type"), QStringLiteral("data"));
                o.insert(QStringLiteral("value"), QString::fromLatin1(v.toBase64()));
            } else {
                o.insert(QStringLiteral("type"), QStringLiteral("numbers"));
                QJsonArray a;
                for (double d : v)
                    a.append(d);
                o.insert(QStringLiteral("value"), a);
            }
        },
        value);
    return o;
}

} // namespace

QString FilePreferenceStore::defaultPath()
{
    return Paths::configFolder() + QStringLiteral("/preferences.json");
}

FilePreferenceStore::FilePreferenceStore(QString filePath) : m_path(std::move(filePath))
{
    load();
}

void FilePreferenceStore::load()
{
    QFile file(m_path);
    if (!file.exists())
        return;
    QByteArray bytes;
    bool readable = file.open(QIODevice::ReadOnly);
    if (readable) {
        bytes = file.readAll();
        readable = file.error() == QFileDevice::NoError;
        file.close();
    }
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    const QJsonValue values = doc.object().value(QStringLiteral("values"));
    if (!readable || error.error != QJsonParseError::NoError || !doc.isObject() || !values.isObject()) {
        setAside();
        return;
    }
    const QJsonObject object = values.toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        // A single entry of the wrong shape reads as absent; the rest is kept.
        if (auto v = decodeEntry(it.value()))
            m_values.insert(it.key(), *v);
    }
}

void FilePreferenceStore::setAside()
{
    // Keep what the user had for inspection; the defaults apply from here.
    const QString aside = m_path + QStringLiteral(".unreadable-") +
                          QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    if (QFile::rename(m_path, aside)) {
        m_setAside = aside;
        Diag::log(QStringLiteral("preferences: unreadable file moved to %1").arg(aside));
    } else {
        // Never write over a file we could not read.
        m_saveBlocked = true;
        Diag::log(QStringLiteral("preferences: unreadable file %1 could not be moved aside; changes are kept "
                                 "for this run only")
                      .arg(m_path));
    }
}

bool FilePreferenceStore::save()
{
    if (m_saveBlocked)
        return false;
    QJsonObject values;
    for (auto it = m_values.cbegin(); it != m_values.cend(); ++it)
        values.insert(it.key(), encodeEntry(it.value()));
    QJsonObject root;
    root.insert(QStringLiteral("format"), 1);
    root.insert(QStringLiteral("values"), values);

    QDir().mkpath(QFileInfo(m_path).absolutePath());
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly)) {
        Diag::log(QStringLiteral("preferences: cannot write %1: %2").arg(m_path, file.errorString()));
        return false;
    }
    const QByteArray bytes = QJsonDocument(root).toJson(QJsonDocument::Indented);
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        Diag::log(QStringLiteral("preferences: cannot write %1: %2").arg(m_path, file.errorString()));
        file.cancelWriting();
        return false;
    }
    return true;
}

std::optional<PrefValue> FilePreferenceStore::value(const QString &key) const
{
    const auto it = m_values.constFind(key);
    if (it == m_values.cend())
        return std::nullopt;
    return *it;
}

bool FilePreferenceStore::setValue(const QString &key, const PrefValue &value)
{
    m_values.insert(key, value);
    return save();
}

bool FilePreferenceStore::remove(const QString &key)
{
    if (!m_values.remove(key))
        return true;
    return save();
}
