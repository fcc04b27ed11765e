#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <variant>

// A stored preference keeps its type, so that "a value that is not an
// integer reads as absent" can hold.
using PrefValue = std::variant<bool, qint64, QString, QByteArray, QList<double>>;

// The per-user key-value store. Reads never fail: a key that is missing or
// holds another type reads as absent.
class PreferenceStore {
public:
    virtual ~PreferenceStore() = default;

    virtual std::optional<PrefValue> value(const QString &key) const = 0;
    // Written through at once. Returns false when the value could not be made
    // durable; it is still held for this run.
    virtual bool setValue(const QString &key, const PrefValue &value) = 0;
    virtual bool remove(const QString &key) = 0;

    std::optional<bool> boolValue(const QString &key) const { return typed<bool>(key); }
    std::optional<qint64> intValue(const QString &key) const { return typed<qint64>(key); }
    std::optional<QString> textValue(const QString &key) const { return typed<QString>(key); }
    std::optional<QByteArray> dataValue(const QString &key) const { return typed<QByteArray>(key); }
    std::optional<QList<double>> numbersValue(const QString &key) const { return typed<QList<double>>(key); }

private:
    template <typename T> std::optional<T> typed(const QString &key) const
    {
        const auto v = value(key);
        if (v && std::holds_alternative<T>(*v))
            return std::get<T>(*v);
        return std::nullopt;
    }
};
