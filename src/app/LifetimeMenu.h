#pragma once

#include "base/Lifetime.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

// One entry of a lifetime menu, as the settings and each recent link show it.
struct LifetimeMenuItem {
    enum class Kind { current, preset, separator, custom };
    Kind kind = Kind::preset;
    QString text;
    bool checked = false;
    std::optional<Lifetime> lifetime; // what choosing a preset picks

    friend bool operator==(const LifetimeMenuItem &, const LifetimeMenuItem &) = default;
};

namespace LifetimeMenu {
// The current value when it is no preset (checked, inert), the presets (the
// current one checked), a separator and the custom item.
QList<LifetimeMenuItem> choices(const std::optional<Lifetime> &current, const QString &customTitle);
// What a link's menu marks as current: forever for a link kept forever,
// otherwise nothing (its remaining time is no preset).
std::optional<Lifetime> currentForLink(const QDateTime &expiresAt, const QDateTime &now);
} // namespace LifetimeMenu
