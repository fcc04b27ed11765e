#pragma once

#include "ui/TrayMenuModel.h"

class QMenu;

// Fills a QMenu from the model: text lines are greyed, check items carry
// their mark, submenus nest.
void fillTrayMenu(QMenu &menu, const QList<MenuEntry> &entries);
