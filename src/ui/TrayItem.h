#pragma once

#include "ui/TrayMenuModel.h"

#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

class AppState;

// The tray item and its menu. It only observes the state and calls its
// operations; every observed change updates label and menu once the
// current event is done (so an action is never deleted while it fires).
class TrayItem : public QObject {
    Q_OBJECT

public:
    TrayItem(AppState &state, TrayMenuActions actions, QObject *parent = nullptr);

    void show();
    QMenu &menu() { return m_menu; }
    QSystemTrayIcon &icon() { return m_icon; }
    std::optional<TrayLabel::Icon> shownIcon() const { return m_shownIcon; }
    // Applies the state now instead of after the current event.
    void refresh();

private:
    void scheduleRefresh();

    AppState &m_state;
    TrayMenuActions m_actions;
    QMenu m_menu;
    QSystemTrayIcon m_icon;
    bool m_refreshPending = false;
    std::optional<TrayLabel::Icon> m_shownIcon;
};
