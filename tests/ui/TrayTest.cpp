// The tray: its icon, tooltip and menu by phase, read as a person reads them.
#include "PhaseRig.h"
#include "QtPrinters.h"

#include "ui/TrayItem.h"
#include "ui/TrayMenu.h"
#include "ui/TrayMenuModel.h"

#include <QAction>
#include <QMenu>
#include <QPointer>
#include <QSystemTrayIcon>
#include <gtest/gtest.h>

namespace {

using Kind = Phase::Kind;

// The menu as a person reads it: "---" separators, "[x] title" check items,
// "(title)" greyed lines, "Title > a | b" submenus, shortcuts in brackets.
// Titles are read as shown, so an unescaped "&" or a tab shows up wrong.
QStringList outline(const QMenu &menu)
{
    QStringList lines;
    for (QAction *action : menu.actions()) {
        QString line = action->iconText();
        if (action->isSeparator())
            line = QStringLiteral("---");
        else if (action->menu())
            line += QStringLiteral(" > ") + outline(*action->menu()).join(QStringLiteral(" | "));
        else if (!action->isEnabled())
            line = QStringLiteral("(") + line + QStringLiteral(")");
        else if (action->isCheckable())
            line = (action->isChecked() ? QStringLiteral("[x] ") : QStringLiteral("[ ] ")) + line;
        if (!action->shortcut().isEmpty())
            line +=
                QStringLiteral(" [") + action->shortcut().toString(QKeySequence::PortableText) + QStringLiteral("]");
        lines << line;
    }
    return lines;
}

QAction *actionTitled(const QMenu &menu, const QString &prefix)
{
    for (QAction *action : menu.actions())
        if (action->iconText().startsWith(prefix))
            return action;
    return nullptr;
}

const QStringList kSwitchesAndTail{"---",
                                   "[x] Show Camera Bubble",
                                   "[x] Record Microphone",
                                   "[x] Show in Dock",
                                   "[ ] Demo Mode (keep the window up while recording)",
                                   "---",
                                   "Check for Updates\u2026",
                                   "Quit Mivra Video [Ctrl+Q]"};

QStringList withPhaseBlock(const QStringList &block)
{
    return QStringList{"Open Mivra Video", "---"} + block + kSwitchesAndTail;
}

// An AppState of doubles and its tray menu, rebuilt on demand.
struct MenuRig {
    PhaseRig rig;
    AppState &state = rig.make();
    QMenu menu;

    QStringList shown(const TrayMenuActions &actions = {})
    {
        fillTrayMenu(menu, buildTrayMenu(state, actions));
        return outline(menu);
    }
};

// The icon and the tooltip. (Docking in a tray is the launch test's.)
QString look(TrayItem &tray)
{
    const char *icons[] = {"none", "app", "dottedCircle", "upArrow"};
    return QLatin1String(icons[int(tray.shownIcon().value_or(TrayLabel::Icon(0)))]) + QStringLiteral(" | ") +
           tray.icon().toolTip();
}

TEST(TrayItem, IconTooltipAndMenuFollowThePhase)
{
    // No text beside a tray icon: the time ticks in the tooltip and the menu.
    const struct {
        Kind kind;
        QString look;
        QStringList block;
    } cases[] = {
        {Kind::idle, "app | Mivra Video", {"Start Recording [Ctrl+R]"}},
        {Kind::starting, "dottedCircle | Mivra Video", {"(Starting\u2026)"}},
        {Kind::recording, "app | Mivra Video \u2013 recording 62:05", {"Done  62:05 [Ctrl+S]", "Discard Recording"}},
        {Kind::finishing, "dottedCircle | Mivra Video", {"(Finishing recording\u2026)"}},
        {Kind::uploading, "upArrow | Mivra Video \u2013 Uploading\u2026", {"(Uploading\u2026)"}},
    };
    for (const auto &c : cases) {
        PhaseRig rig;
        TrayItem tray(rig.make(), {});
        tray.show();
        rig.reach(c.kind);
        rig.now = rig.now.addSecs(3725);
        const QStringList menu = withPhaseBlock(c.block);
        EXPECT_TRUE(waitUntil([&] { return look(tray) == c.look && outline(tray.menu()) == menu; }))
            << qPrintable(look(tray) + QStringLiteral("\n") + outline(tray.menu()).join(u'\n'));
    }
    // Once the size is known, what has gone up.
    MenuRig m;
    m.rig.reach(Kind::uploading);
    m.rig.progress(500000, 2000000);
    EXPECT_EQ(m.shown(), withPhaseBlock({"(" + m.state.phase().uploadText() + ")"}));
}

TEST(TrayMenu, ErrorLineAndRecentLinksShowAsTyped)
{
    MenuRig m;
    AppStateRig &rig = m.rig;
    run(m.state.startRecording());
    run(m.state.stopRecording());
    run(m.state.rename(m.state.recent().front(), QStringLiteral("Tom & Jerry\tpart 2")));
    run(m.state.startRecording());
    run(m.state.stopRecording());
    const QString newest = m.state.recent().front().title;
    rig.recorder->startStep.failure = QStringLiteral("Q&A\tfailed.");
    run(m.state.startRecording());

    QStringList expected = withPhaseBlock({"Start Recording [Ctrl+R]", "---", "(Q&A failed.)"});
    expected.insert(expected.size() - 3, "---");
    expected.insert(expected.size() - 3, "Recent Links > " + newest + " | Tom & Jerry part 2");
    EXPECT_EQ(m.shown(), expected);

    // Choosing a link hands it over.
    actionTitled(m.menu, QStringLiteral("Recent Links"))->menu()->actions()[1]->trigger();
    EXPECT_EQ(rig.urlOpener->opened.last(), QUrl(m.state.recent()[1].shareUrl));

    // The next start clears the error.
    rig.recorder->startStep.failure.reset();
    run(m.state.startRecording());
    EXPECT_FALSE(m.shown().contains(QStringLiteral("(Q&A failed.)")));
}

TEST(TrayMenu, ItemsActOnTheStateAndRebuildsReplaceEverything)
{
    MenuRig m;
    int opened = 0, updates = 0, quits = 0;
    const TrayMenuActions actions{[&] { ++opened; }, [&] { ++updates; }, [&] { ++quits; }};
    m.shown(actions);
    for (const char *title : {"Open Mivra Video", "Check for Updates", "Quit Mivra Video"})
        actionTitled(m.menu, QString::fromLatin1(title))->trigger();
    EXPECT_EQ(std::tuple(opened, updates, quits), std::tuple(1, 1, 1));

    actionTitled(m.menu, QStringLiteral("Show Camera Bubble"))->trigger();
    EXPECT_FALSE(m.state.cameraEnabled());
    actionTitled(m.menu, QStringLiteral("Record Microphone"))->trigger();
    EXPECT_EQ(m.rig.store->boolValue(QStringLiteral("micEnabled")), false);
    actionTitled(m.menu, QStringLiteral("Demo Mode"))->trigger();
    EXPECT_TRUE(m.state.demoMode());

    // Start runs as its own task once the menu has closed.
    actionTitled(m.menu, QStringLiteral("Start Recording"))->trigger();
    EXPECT_TRUE(m.state.phase().is(Phase::Kind::idle));
    ASSERT_TRUE(waitUntil([&] { return m.state.phase().is(Phase::Kind::recording); }));
    m.shown(actions);
    actionTitled(m.menu, QStringLiteral("Discard Recording"))->trigger();
    ASSERT_TRUE(waitUntil([&] { return m.state.phase().is(Phase::Kind::idle); }));
    EXPECT_EQ(m.rig.uploader->uploads, 0);

    // A new shape replaces everything, the submenu in place included.
    run(m.state.startRecording());
    run(m.state.stopRecording());
    m.shown();
    run(m.state.startRecording());
    m.shown();
    EXPECT_EQ(m.menu.findChildren<QMenu *>(QString(), Qt::FindDirectChildrenOnly).size(), 1);
}

TEST(TrayItem, OpenSubmenuStaysOpenWhileTheTimeTicks)
{
    AppStateRig rig;
    AppState &state = rig.make();
    run(state.startRecording());
    run(state.stopRecording());
    run(state.startRecording());
    TrayItem item(state, {});
    QMenu &menu = item.menu();
    QPointer<QAction> done = actionTitled(menu, QStringLiteral("Done  "));
    QMenu *links = actionTitled(menu, QStringLiteral("Recent Links"))->menu();
    menu.popup(QPoint(40, 40));
    links->popup(QPoint(300, 60));
    ASSERT_TRUE(waitUntil([&] { return links->isVisible(); }));
    for (const auto &[seconds, time] : {std::pair{7, "0:07"}, std::pair{1, "0:08"}}) {
        rig.now = rig.now.addSecs(seconds);
        ASSERT_TRUE(waitUntil([&] { return done && done->text() == QStringLiteral("Done  ") + time; })) << time;
        EXPECT_EQ(actionTitled(menu, QStringLiteral("Recent Links"))->menu(), links);
        EXPECT_TRUE(links->isVisible() && menu.isVisible());
    }
    // The new handler is in place: Done still stops the recording.
    done->trigger();
    ASSERT_TRUE(waitUntil([&] { return state.phase().is(Phase::Kind::idle); }));
}

} // namespace
