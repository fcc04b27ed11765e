#include "ui/TrayMenu.h"

#include <QAction>
#include <QMenu>

namespace {
// Titles and errors are shown as typed: "&" would mark a mnemonic and a tab
// would start the shortcut column.
QString asTyped(QString title)
{
    return title.replace(QLatin1Char('&'), QLatin1String("&&")).replace(QLatin1Char('\t'), QLatin1Char(' '));
}

MenuEntry::Kind kindOf(const QAction *action)
{
    return static_cast<MenuEntry::Kind>(action->data().toInt());
}

bool sameShape(const QMenu &menu, const QList<MenuEntry> &entries)
{
    const QList<QAction *> actions = menu.actions();
    if (actions.size() != entries.size())
        return false;
    for (qsizetype i = 0; i < actions.size(); ++i) {
        if (kindOf(actions[i]) != entries[i].kind)
            return false;
    }
    return true;
}

// One action per entry, empty until updated.
void rebuild(QMenu &menu, const QList<MenuEntry> &entries)
{
    // Submenus are children of the menu, not actions: clear() would keep them.
    qDeleteAll(menu.findChildren<QMenu *>(QString(), Qt::FindDirectChildrenOnly));
    menu.clear();
    for (const MenuEntry &entry : entries) {
        QAction *action = nullptr;
        switch (entry.kind) {
        case MenuEntry::Kind::separator:
            action = menu.addSeparator();
            break;
        case MenuEntry::Kind::submenu:
            action = menu.addMenu(new QMenu(&menu));
            break;
        case MenuEntry::Kind::text:
        case MenuEntry::Kind::action:
        case MenuEntry::Kind::check:
            action = menu.addAction(QString());
            action->setEnabled(entry.kind != MenuEntry::Kind::text);
            action->setCheckable(entry.kind == MenuEntry::Kind::check);
            break;
        }
        action->setData(int(entry.kind));
    }
}

void update(QAction *action, const MenuEntry &entry)
{
    // The old handlers go first, so setting the mark below writes nothing back.
    QObject::disconnect(action, nullptr, action, nullptr);
    switch (entry.kind) {
    case MenuEntry::Kind::separator:
        break;
    case MenuEntry::Kind::submenu:
        action->menu()->setTitle(asTyped(entry.title));
        fillTrayMenu(*action->menu(), entry.children);
        break;
    case MenuEntry::Kind::text:
        action->setText(asTyped(entry.title));
        break;
    case MenuEntry::Kind::action:
        action->setText(asTyped(entry.title));
        action->setShortcut(entry.shortcut);
        if (entry.trigger)
            QObject::connect(action, &QAction::triggered, action, [trigger = entry.trigger] { trigger(); });
        break;
    case MenuEntry::Kind::check:
        action->setText(asTyped(entry.title));
        action->setChecked(entry.checked);
        if (entry.toggle)
            QObject::connect(action, &QAction::toggled, action, [toggle = entry.toggle](bool on) { toggle(on); });
        break;
    }
}
} // namespace

void fillTrayMenu(QMenu &menu, const QList<MenuEntry> &entries)
{
    if (!sameShape(menu, entries))
        rebuild(menu, entries);
    const QList<QAction *> actions = menu.actions();
    for (qsizetype i = 0; i < actions.size(); ++i)
        update(actions[i], entries[i]);
}
