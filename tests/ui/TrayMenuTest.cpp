#include "Await.h"
#include "support/AppStateRig.h"

#include "ui/TrayMenu.h"
#include "ui/TrayMenuModel.h"

#include <QAction>
#include <QMenu>
#include <gtest/gtest.h>

namespace {

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

// An AppState of doubles and its tray menu, rebuilt on demand.
struct MenuRig {
    AppStateRig rig;
    AppState &state = rig.make();
    QMenu menu;

    QStringList shown(const TrayMenuActions &actions = {})
    {
        fillTrayMenu(menu, buildTrayMenu(state, actions));
        return outline(menu);
    }
    QStringList withPhaseBlock(const QStringList &block)
    {
        return QStringList{"Open Mivra Video", "---"} + block + kSwitchesAndTail;
    }
};

TEST(TrayMenu, PhaseBlockByPhase)
{
    MenuRig m;
    AppStateRig &rig = m.rig;
    EXPECT_EQ(m.shown(), m.withPhaseBlock({"Start Recording [Ctrl+R]"}));

    rig.recorder->startStep.hold = true;
    auto start = m.state.startRecording();
    EXPECT_EQ(m.shown(), m.withPhaseBlock({"(Starting\u2026)"}));
    rig.recorder->startStep.release();
    run(std::move(start));
    rig.now = rig.now.addSecs(75);
    ASSERT_TRUE(waitUntil([&] { return m.state.elapsed() == QStringLiteral("1:15"); }));
    EXPECT_EQ(m.shown(), m.withPhaseBlock({"Done  1:15 [Ctrl+S]", "Discard Recording"}));

    rig.recorder->stopStep.hold = true;
    rig.uploader->uploadStep.hold = true;
    auto stop = m.state.stopRecording();
    EXPECT_EQ(m.shown(), m.withPhaseBlock({"(Finishing recording\u2026)"}));
    rig.recorder->stopStep.release();
    ASSERT_TRUE(waitUntil([&] { return m.state.phase().is(Phase::Kind::uploading); }));
    EXPECT_EQ(m.shown(), m.withPhaseBlock({"(Uploading\u2026)"}));
    rig.uploader->progress(500000, 2000000);
    ASSERT_TRUE(waitUntil([&] { return m.state.phase().sentBytes() == 500000; }));
    EXPECT_EQ(m.shown(), m.withPhaseBlock({"(" + m.state.phase().uploadText() + ")"}));
    rig.uploader->uploadStep.release();
    run(std::move(stop));
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

    QStringList expected = m.withPhaseBlock({"Start Recording [Ctrl+R]", "---", "(Q&A failed.)"});
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

} // namespace
