#include "ui/TrayMenu.h"

#include <QAction>
#include <QMenu>

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
            QAction *line = menu.addAction(entry.title);
            line->setEnabled(false);
            break;
        }
        case MenuEntry::Kind::action: {
            QAction *action = menu.addAction(entry.title);
            action->setShortcut(entry.shortcut);
            if (entry.trigger)
                QObject::connect(action, &QAction::triggered, action, [trigger = entry.trigger] { trigger(); });
            break;
        }
        case MenuEntry::Kind::check: {
            QAction *action = menu.addAction(entry.title);
            action->setCheckable(true);
            action->setChecked(entry.checked);
            if (entry.toggle)
                QObject::connect(action, &QAction::toggled, action, [toggle = entry.toggle](bool on) { toggle(on); });
            break;
        }
        case MenuEntry::Kind::submenu: {
            QMenu *sub = menu.addMenu(entry.title);
            fillTrayMenu(*sub, entry.children);
            break;
        }
        }
    }
}
