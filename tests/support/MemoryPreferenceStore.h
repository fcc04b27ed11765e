#pragma once

#include "platform/PreferenceStore.h"

#include <QHash>

// In-memory preference store for tests. `failWrites` makes every write report
// failure (the value is still held), like a full disk.
class MemoryPreferenceStore final : public PreferenceStore {
public:
    std::optional<PrefValue> value(const QString &key) const override
    {
        const auto it = values.constFind(key);
        return it == values.cend() ? std::nullopt : std::optional<PrefValue>(*it);
    }
    bool setValue(const QString &key, const PrefValue &value) override
    {
        values.insert(key, value);
        ++writes;
        return !failWrites;
    }
    bool remove(const QString &key) override
    {
        values.remove(key);
        ++writes;
        return !failWrites;
    }

    QHash<QString, PrefValue> values;
    int writes = 0;
    bool failWrites = false;
};
