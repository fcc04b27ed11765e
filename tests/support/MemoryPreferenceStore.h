#pragma once

#include "platform/PreferenceStore.h"

#include <QHash>

// In-memory preference store for tests; `writes` counts every change.
class MemoryPreferenceStore final : public PreferenceStore {
public:
    std::optional<PrefValue> value(const QString &key) const override
    {
        return values.contains(key) ? std::optional<PrefValue>(values.value(key)) : std::nullopt;
    }
    bool setValue(const QString &key, const PrefValue &value) override
    {
        values.insert(key, value);
        ++writes;
        return true;
    }
    bool remove(const QString &key) override
    {
        values.remove(key);
        ++writes;
        return true;
    }

    QHash<QString, PrefValue> values;
    int writes = 0;
};
