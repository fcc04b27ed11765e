#pragma once

#include "platform/PreferenceStore.h"

#include <QHash>

// The preference store as one JSON file in the XDG config folder. Every
// change rewrites the file atomically (a temporary file renamed over the
// old one), so a crash or a full disk leaves the previous good file.
//
// File form: {"format": 1, "values": {key: {"type": T, "value": V}}} with T
// one of "bool", "int", "text", "data" (base64) or "numbers".
class FilePreferenceStore final : public PreferenceStore {
public:
    // The default file: Paths::configFolder() + "/preferences.json".
    static QString defaultPath();

    explicit FilePreferenceStore(QString filePath = defaultPath());

    std::optional<PrefValue> value(const QString &key) const override;
    bool setValue(const QString &key, const PrefValue &value) override;
    bool remove(const QString &key) override;

    QString filePath() const { return m_path; }
    // Where an unreadable file was moved at load, or empty.
    QString setAsidePath() const { return m_setAside; }

private:
    void load();
    bool save();
    void setAside();

    QString m_path;
    QString m_setAside;
    bool m_saveBlocked = false;
    QHash<QString, PrefValue> m_values;
};
