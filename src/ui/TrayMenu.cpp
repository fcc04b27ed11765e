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
} // namespace

void fillTrayMenu(QMenu &menu, const QList<MenuEntry> &entries)
{
    // Submenus are children of the menu, not actions: clear() would keep them.
    qDeleteAll(menu.findChildren<QMenu *>(QString(), Qt::FindDirectChildrenOnly));
    menu.clear();
    for (const MenuEntry &entry : entries) {
        switch (entry.kind) {
        case MenuEntry::Kind::separator:
            menu.addSeparator();
            break;
        case MenuEntry::Kind::text: {
            QAction *line = menu.addAction(asTyped(entry.title));
            line->setEnabled(false);
            break;
        }
        case MenuEntry::Kind::action: {
            QAction *action = menu.addAction(asTyped(entry.title));
            action->setShortcut(entry.shortcut);
            if (entry.trigger)
                QObject::connect(action, &QAction::triggered, action, [trigger = entry.trigger] { trigger(); });
            break;
        }
        case MenuEntry::Kind::check: {
            QAction *action = menu.addAction(asTyped(entry.title));
            action->setCheckable(true);
            action->setChecked(entry.checked);
            if (entry.toggle)
                QObject::connect(action, &QAction::toggled, action, [toggle = entry.toggle](bool on) { toggle(on); });
            break;
        }
        case MenuEntry::Kind::submenu: {
            QMenu *sub = menu.addMenu(asTyped(entry.title));
            fillTrayMenu(*sub, entry.children);
            break;
        }
        }
    }
}
