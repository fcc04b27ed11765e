#include "app/LifetimeMenu.h"

#include "app/ExpiryText.h"

namespace LifetimeMenu {

QList<LifetimeMenuItem> choices(const std::optional<Lifetime> &current, const QString &customTitle)
{
    using Kind = LifetimeMenuItem::Kind;
    QList<LifetimeMenuItem> items;
    const QList<Lifetime> &presets = Lifetime::presets();
    if (current && !presets.contains(*current))
        items.append({Kind::current, current->label(), true, std::nullopt});
    for (const Lifetime &preset : presets)
        items.append({Kind::preset, preset.label(), current == preset, preset});
    items.append({Kind::separator, QString(), false, std::nullopt});
    items.append({Kind::custom, customTitle, false, std::nullopt});
    return items;
}

std::optional<Lifetime> currentForLink(const QDateTime &expiresAt, const QDateTime &now)
{
    if (ExpiryText::keptForever(expiresAt, now))
        return Lifetime::forever();
    return std::nullopt;
}

} // namespace LifetimeMenu
