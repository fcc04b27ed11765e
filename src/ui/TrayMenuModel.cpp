#include "ui/TrayMenuModel.h"

#include "app/AppState.h"
#include "app/MainThreadTask.h"

MenuEntry MenuEntry::action(QString title, std::function<void()> trigger, QKeySequence shortcut)
{
    MenuEntry entry;
    entry.kind = Kind::action;
    entry.title = std::move(title);
    entry.trigger = std::move(trigger);
    entry.shortcut = std::move(shortcut);
    return entry;
}

MenuEntry MenuEntry::text(QString title)
{
    MenuEntry entry;
    entry.kind = Kind::text;
    entry.title = std::move(title);
    return entry;
}

MenuEntry MenuEntry::separator()
{
    return MenuEntry();
}

MenuEntry MenuEntry::check(QString title, bool checked, std::function<void(bool)> toggle)
{
    MenuEntry entry;
    entry.kind = Kind::check;
    entry.title = std::move(title);
    entry.checked = checked;
    entry.toggle = std::move(toggle);
    return entry;
}

MenuEntry MenuEntry::submenu(QString title, QList<MenuEntry> children)
{
    MenuEntry entry;
    entry.kind = Kind::submenu;
    entry.title = std::move(title);
    entry.children = std::move(children);
    return entry;
}

namespace {
void appendPhaseBlock(QList<MenuEntry> &menu, AppState &state)
{
    AppState *target = &state;
    // Nothing more may start or stop while the quit waits for the file.
    if (state.quitting()) {
        menu.append(MenuEntry::text(QStringLiteral("Quitting once the recording is saved\u2026")));
        return;
    }
    switch (state.phase().kind()) {
    case Phase::Kind::idle:
        menu.append(MenuEntry::action(
            QStringLiteral("Start Recording"),
            [target] { launchTask(target, [target] { return target->startRecording(); }); },
            QKeySequence(Qt::CTRL | Qt::Key_R)));
        break;
    case Phase::Kind::starting:
        menu.append(MenuEntry::text(QStringLiteral("Starting\u2026")));
        break;
    case Phase::Kind::recording:
        menu.append(MenuEntry::action(
            QStringLiteral("Done  ") + state.elapsed(),
            [target] { launchTask(target, [target] { return target->stopRecording(); }); },
            QKeySequence(Qt::CTRL | Qt::Key_S)));
        menu.append(MenuEntry::action(QStringLiteral("Discard Recording"), [target] {
            launchTask(target, [target] { return target->discardRecording(); });
        }));
        break;
    case Phase::Kind::finishing:
        menu.append(MenuEntry::text(QStringLiteral("Finishing recording\u2026")));
        break;
    case Phase::Kind::uploading:
        menu.append(MenuEntry::text(state.phase().uploadText()));
        break;
    }
}
} // namespace

QList<MenuEntry> buildTrayMenu(AppState &state, const TrayMenuActions &actions)
{
    AppState *target = &state;
    QList<MenuEntry> menu;
    menu.append(MenuEntry::action(QStringLiteral("Open Mivra Video"), actions.openMainWindow));
    menu.append(MenuEntry::separator());
    appendPhaseBlock(menu, state);
    if (state.hasLastError()) {
        menu.append(MenuEntry::separator());
        menu.append(MenuEntry::text(state.lastErrorText()));
    }
    menu.append(MenuEntry::separator());
    menu.append(MenuEntry::check(QStringLiteral("Show Camera Bubble"), state.cameraEnabled(),
                                 [target](bool on) { target->setCameraEnabled(on); }));
    menu.append(MenuEntry::check(QStringLiteral("Record Microphone"), state.micEnabled(),
                                 [target](bool on) { target->setMicEnabled(on); }));
    menu.append(MenuEntry::check(QStringLiteral("Show in Dock"), state.showInDock(),
                                 [target](bool on) { target->setShowInDock(on); }));
    menu.append(MenuEntry::check(QStringLiteral("Demo Mode (keep the window up while recording)"), state.demoMode(),
                                 [target](bool on) { target->setDemoMode(on); }));
    if (!state.recent().isEmpty()) {
        QList<MenuEntry> links;
        for (const RecentLink &link : state.recent())
            links.append(MenuEntry::action(link.title, [target, link] { target->copyAndOpen(link); }));
        menu.append(MenuEntry::separator());
        menu.append(MenuEntry::submenu(QStringLiteral("Recent Links"), std::move(links)));
    }
    menu.append(MenuEntry::separator());
    menu.append(MenuEntry::action(QStringLiteral("Check for Updates\u2026"), actions.checkForUpdates));
    menu.append(
        MenuEntry::action(QStringLiteral("Quit Mivra Video"), actions.quit, QKeySequence(Qt::CTRL | Qt::Key_Q)));
    return menu;
}

TrayLabel trayLabelFor(const Phase &phase, const QString &elapsed)
{
    switch (phase.kind()) {
    case Phase::Kind::idle:
        return {TrayLabel::Icon::app, QString()};
    case Phase::Kind::starting:
    case Phase::Kind::finishing:
        return {TrayLabel::Icon::dottedCircle, QString()};
    case Phase::Kind::recording:
        return {TrayLabel::Icon::app, elapsed};
    case Phase::Kind::uploading:
        return {TrayLabel::Icon::upArrow, QString()};
    }
    return {};
}
