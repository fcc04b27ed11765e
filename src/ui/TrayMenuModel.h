#pragma once

#include <QKeySequence>
#include <QList>
#include <QString>

#include <functional>

class AppState;
class Phase;

// One line of the tray menu, as plain data that tests can read without a tray.
struct MenuEntry {
    enum class Kind { action = 1, text, separator, check, submenu };

    Kind kind = Kind::separator;
    QString title;
    QKeySequence shortcut;
    bool checked = false;
    // action: run on choice. check: run with the new value.
    std::function<void()> trigger;
    std::function<void(bool)> toggle;
    QList<MenuEntry> children;

    static MenuEntry action(QString title, std::function<void()> trigger, QKeySequence shortcut = {});
    static MenuEntry text(QString title);
    static MenuEntry separator();
    static MenuEntry check(QString title, bool checked, std::function<void(bool)> toggle);
    static MenuEntry submenu(QString title, QList<MenuEntry> children);
};

// What the menu asks of the app beyond the state's own operations.
struct TrayMenuActions {
    std::function<void()> openMainWindow;
    std::function<void()> checkForUpdates;
    std::function<void()> quit;
};

// The whole menu for the state as it is now, top to bottom.
QList<MenuEntry> buildTrayMenu(AppState &state, const TrayMenuActions &actions);

// The tray item's look for a phase.
struct TrayLabel {
    enum class Icon { app = 1, dottedCircle, upArrow };
    Icon icon = Icon::app;
    // Shown beside the icon where the tray can show text; else in the tooltip.
    QString text;
};
TrayLabel trayLabelFor(const Phase &phase, const QString &elapsed);
