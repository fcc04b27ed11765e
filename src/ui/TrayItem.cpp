#include "ui/TrayItem.h"

#include "app/AppState.h"
#include "ui/TrayIcons.h"
#include "ui/TrayMenu.h"

#include <QCursor>
#include <QTimer>

TrayItem::TrayItem(AppState &state, TrayMenuActions actions, QObject *parent)
    : QObject(parent), m_state(state), m_actions(std::move(actions))
{
    for (auto changed : {&AppState::phaseChanged, &AppState::elapsedChanged, &AppState::lastErrorChanged,
                         &AppState::recentChanged, &AppState::cameraEnabledChanged, &AppState::micEnabledChanged,
                         &AppState::showInDockChanged, &AppState::demoModeChanged, &AppState::quittingChanged})
        connect(&m_state, changed, this, &TrayItem::scheduleRefresh);
    m_icon.setContextMenu(&m_menu);
    // Trays that send a plain click get the menu too, as a menu-bar item would.
    connect(&m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            m_menu.popup(QCursor::pos());
    });
    refresh();
}

void TrayItem::show()
{
    m_icon.show();
}

void TrayItem::scheduleRefresh()
{
    if (m_refreshPending)
        return;
    m_refreshPending = true;
    QTimer::singleShot(0, this, &TrayItem::refresh);
}

void TrayItem::refresh()
{
    m_refreshPending = false;
    const Phase phase = m_state.phase();
    const TrayLabel label = trayLabelFor(phase, m_state.elapsed());
    if (m_shownIcon != label.icon) {
        m_icon.setIcon(TrayIcons::icon(label.icon));
        m_shownIcon = label.icon;
    }
    // A tray icon cannot show text beside it: the time goes into the tooltip.
    QString tip = QStringLiteral("Mivra Video");
    if (!label.text.isEmpty())
        tip += QStringLiteral(" \u2013 recording ") + label.text;
    else if (phase.is(Phase::Kind::uploading))
        tip += QStringLiteral(" \u2013 ") + phase.uploadText();
    m_icon.setToolTip(tip);
    fillTrayMenu(m_menu, buildTrayMenu(m_state, m_actions));
}
