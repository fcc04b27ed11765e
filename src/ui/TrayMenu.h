#pragma once

#include "ui/TrayMenuModel.h"

class QMenu;

// Makes a QMenu show the model: text lines are greyed, check items carry
// their mark, submenus nest. Where the lines are of the same kinds as before,
// the existing actions and submenus are updated in place, so a menu the user
// has open stays open while a title or a mark changes.
void fillTrayMenu(QMenu &menu, const QList<MenuEntry> &entries);
