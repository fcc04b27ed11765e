// The tray: its icon, tooltip and menu by phase, read as a person reads them.
#include "PhaseRig.h"
#include "QtPrinters.h"

#include "ui/TrayItem.h"

#include <QPointer>
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

// An AppState of doubles and its tray item.
struct TrayRig {
    PhaseRig rig;
    AppState &state = rig.make();
    TrayItem tray;

    explicit TrayRig(TrayMenuActions actions = {}) : tray(state, std::move(actions)) {}
    // The menu once the item has caught up with the state.
    QStringList menu()
    {
        tray.refresh();
        return outline(tray.menu());
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
        TrayRig t;
        t.tray.show();
        t.rig.reach(c.kind);
        t.rig.now = t.rig.now.addSecs(3725);
        const QStringList menu = withPhaseBlock(c.block);
        EXPECT_TRUE(waitUntil([&] { return look(t.tray) == c.look && outline(t.tray.menu()) == menu; }))
            << qPrintable(look(t.tray) + QStringLiteral("\n") + outline(t.tray.menu()).join(u'\n'));
    }
    // Once the size is known, what has gone up.
    TrayRig t;
    t.rig.reach(Kind::uploading);
    t.rig.progress(500000, 2000000);
    EXPECT_EQ(t.menu(), withPhaseBlock({"(" + t.state.phase().uploadText() + ")"}));
}

TEST(TrayMenu, ErrorLineAndRecentLinksShowAsTyped)
{
    TrayRig m;
    PhaseRig &rig = m.rig;
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
    EXPECT_EQ(m.menu(), expected);

    // Choosing a link hands it over.
    actionTitled(m.tray.menu(), QStringLiteral("Recent Links"))->menu()->actions()[1]->trigger();
    EXPECT_EQ(rig.urlOpener->opened.last(), QUrl(m.state.recent()[1].shareUrl));

    // The next start clears the error.
    rig.recorder->startStep.failure.reset();
    run(m.state.startRecording());
    EXPECT_FALSE(m.menu().contains(QStringLiteral("(Q&A failed.)")));
}

TEST(TrayMenu, ItemsActOnTheStateAndRebuildsReplaceEverything)
{
    int opened = 0, updates = 0, quits = 0;
    TrayRig m({[&] { ++opened; }, [&] { ++updates; }, [&] { ++quits; }});
    m.menu();
    for (const char *title : {"Open Mivra Video", "Check for Updates", "Quit Mivra Video"})
        actionTitled(m.tray.menu(), QString::fromLatin1(title))->trigger();
    EXPECT_EQ(std::tuple(opened, updates, quits), std::tuple(1, 1, 1));

    for (const char *title : {"Show Camera Bubble", "Record Microphone", "Demo Mode"})
        actionTitled(m.tray.menu(), QString::fromLatin1(title))->trigger();
    EXPECT_EQ(
        std::tuple(m.state.cameraEnabled(), m.rig.store->boolValue(QStringLiteral("micEnabled")), m.state.demoMode()),
        std::tuple(false, std::optional(false), true));

    // Start runs as its own task once the menu has closed.
    actionTitled(m.tray.menu(), QStringLiteral("Start Recording"))->trigger();
    EXPECT_TRUE(m.state.phase().is(Phase::Kind::idle));
    ASSERT_TRUE(waitUntil([&] { return m.state.phase().is(Phase::Kind::recording); }));
    m.menu();
    actionTitled(m.tray.menu(), QStringLiteral("Discard Recording"))->trigger();
    ASSERT_TRUE(waitUntil([&] { return m.state.phase().is(Phase::Kind::idle); }));
    EXPECT_EQ(m.rig.uploader->uploads, 0);

    // A new shape replaces everything, the submenu in place included.
    run(m.state.startRecording());
    run(m.state.stopRecording());
    m.menu();
    run(m.state.startRecording());
    m.menu();
    EXPECT_EQ(m.tray.menu().findChildren<QMenu *>(QString(), Qt::FindDirectChildrenOnly).size(), 1);
}

TEST(TrayItem, OpenSubmenuStaysOpenWhileTheTimeTicks)
{
    TrayRig t;
    AppState &state = t.state;
    run(state.startRecording());
    run(state.stopRecording());
    run(state.startRecording());
    t.tray.refresh();
    QMenu &menu = t.tray.menu();
    QPointer<QAction> done = actionTitled(menu, QStringLiteral("Done  "));
    QMenu *links = actionTitled(menu, QStringLiteral("Recent Links"))->menu();
    menu.popup(QPoint(40, 40));
    links->popup(QPoint(300, 60));
    ASSERT_TRUE(waitUntil([&] { return links->isVisible(); }));
    for (const auto &[seconds, time] : {std::pair{7, "0:07"}, std::pair{1, "0:08"}}) {
        t.rig.now = t.rig.now.addSecs(seconds);
        ASSERT_TRUE(waitUntil([&] { return done && done->text() == QStringLiteral("Done  ") + time; })) << time;
        EXPECT_EQ(actionTitled(menu, QStringLiteral("Recent Links"))->menu(), links);
        EXPECT_TRUE(links->isVisible() && menu.isVisible());
    }
    // The new handler is in place: Done still stops the recording.
    done->trigger();
    ASSERT_TRUE(waitUntil([&] { return state.phase().is(Phase::Kind::idle); }));
}

} // namespace
