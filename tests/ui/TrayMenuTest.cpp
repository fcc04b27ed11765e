#include "Await.h"
#include "support/AppStateRig.h"

#include "ui/TrayItem.h"
#include "ui/TrayMenu.h"
#include "ui/TrayMenuModel.h"

#include <QAction>
#include <QMenu>
#include <QPointer>
#include <gtest/gtest.h>

namespace {

using Kind = MenuEntry::Kind;

// "---" for a separator, "[x] title" / "[ ] title" for check items,
// "(title)" for greyed text lines, "title >" for submenus.
QStringList outline(const QList<MenuEntry> &menu)
{
    QStringList lines;
    for (const MenuEntry &entry : menu) {
        switch (entry.kind) {
        case Kind::separator:
            lines.append(QStringLiteral("---"));
            break;
        case Kind::text:
            lines.append(QStringLiteral("(") + entry.title + QStringLiteral(")"));
            break;
        case Kind::action:
            lines.append(entry.shortcut.isEmpty()
                             ? entry.title
                             : entry.title + QStringLiteral(" [") +
                                   entry.shortcut.toString(QKeySequence::PortableText) + QStringLiteral("]"));
            break;
        case Kind::check:
            lines.append((entry.checked ? QStringLiteral("[x] ") : QStringLiteral("[ ] ")) + entry.title);
            break;
        case Kind::submenu:
            lines.append(entry.title + QStringLiteral(" >"));
            break;
        }
    }
    return lines;
}

QStringList outline(const QMenu &menu)
{
    QStringList lines;
    for (QAction *action : menu.actions()) {
        if (action->isSeparator())
            lines.append(QStringLiteral("---"));
        else if (action->menu())
            lines.append(action->text() + QStringLiteral(" >"));
        else if (!action->isEnabled())
            lines.append(QStringLiteral("(") + action->text() + QStringLiteral(")"));
        else if (action->isCheckable())
            lines.append((action->isChecked() ? QStringLiteral("[x] ") : QStringLiteral("[ ] ")) + action->text());
        else if (!action->shortcut().isEmpty())
            lines.append(action->text() + QStringLiteral(" [") +
                         action->shortcut().toString(QKeySequence::PortableText) + QStringLiteral("]"));
        else
            lines.append(action->text());
    }
    return lines;
}

const QStringList kSwitchesAndTail{"---",
                                   "[x] Show Camera Bubble",
                                   "[x] Record Microphone",
                                   "[x] Show in Dock",
                                   "[ ] Demo Mode (keep the window up while recording)",
                                   "---",
                                   "Check for Updates\u2026",
                                   "Quit Mivra Video [Ctrl+Q]"};

QStringList withHead(const QStringList &phaseBlock)
{
    return QStringList{"Open Mivra Video", "---"} + phaseBlock + kSwitchesAndTail;
}

TEST(TrayMenuModel, PhaseBlockByPhase)
{
    AppStateRig rig;
    AppState &state = rig.make();
    const TrayMenuActions none;
    EXPECT_EQ(outline(buildTrayMenu(state, none)), withHead({"Start Recording [Ctrl+R]"}));

    rig.recorder->startStep.hold = true;
    auto start = state.startRecording();
    EXPECT_EQ(outline(buildTrayMenu(state, none)), withHead({"(Starting\u2026)"}));
    rig.recorder->startStep.release();
    run(std::move(start));
    rig.now = rig.now.addSecs(75);
    ASSERT_TRUE(waitUntil([&] { return state.elapsed() == QStringLiteral("1:15"); }));
    EXPECT_EQ(outline(buildTrayMenu(state, none)), withHead({"Done  1:15 [Ctrl+S]", "Discard Recording"}));

    rig.recorder->stopStep.hold = true;
    auto stop = state.stopRecording();
    EXPECT_EQ(outline(buildTrayMenu(state, none)), withHead({"(Finishing recording\u2026)"}));
    rig.uploader->uploadStep.hold = true;
    rig.recorder->stopStep.release();
    ASSERT_TRUE(waitUntil([&] { return state.phase().is(Phase::Kind::uploading); }));
    EXPECT_EQ(outline(buildTrayMenu(state, none)), withHead({"(Uploading\u2026)"}));
    rig.uploader->progress(500000, 2000000);
    ASSERT_TRUE(waitUntil([&] { return state.phase().sentBytes() == 500000; }));
    EXPECT_EQ(outline(buildTrayMenu(state, none)), withHead({"(" + state.phase().uploadText() + ")"}));
    rig.uploader->uploadStep.release();
    run(std::move(stop));
}

TEST(TrayMenuModel, ErrorLineAndRecentLinksOnlyWhenPresent)
{
    AppStateRig rig;
    AppState &state = rig.make();
    rig.recorder->startStep.failure = QStringLiteral("No display available to record.");
    run(state.startRecording());
    QStringList expected = withHead({"Start Recording [Ctrl+R]"});
    expected.insert(3, QStringLiteral("---"));
    expected.insert(4, QStringLiteral("(No display available to record.)"));
    EXPECT_EQ(outline(buildTrayMenu(state, {})), expected);

    // Shown in every phase, recording included.
    rig.recorder->startStep.failure.reset();
    rig.recorder->startStep.hold = true;
    auto start = state.startRecording();
    EXPECT_FALSE(outline(buildTrayMenu(state, {})).contains("(No display available to record.)"))
        << "the next start clears it";
    rig.recorder->startStep.release();
    run(std::move(start));
    run(state.stopRecording());
    run(state.startRecording());
    run(state.stopRecording());

    const QList<MenuEntry> menu = buildTrayMenu(state, {});
    const QStringList lines = outline(menu);
    const qsizetype at = lines.indexOf(QStringLiteral("Recent Links >"));
    ASSERT_GT(at, 0);
    EXPECT_EQ(lines[at - 1], QStringLiteral("---"));
    EXPECT_EQ(lines[at - 2], QStringLiteral("[ ] Demo Mode (keep the window up while recording)"));
    const MenuEntry &recent = menu[at];
    ASSERT_EQ(recent.children.size(), 2);
    EXPECT_EQ(recent.children[0].title, state.recent()[0].title);

    // Choosing a link hands it over.
    rig.urlOpener->opened.clear();
    recent.children[1].trigger();
    EXPECT_EQ(rig.urlOpener->opened, QList<QUrl>({QUrl(state.recent()[1].shareUrl)}));
}

TEST(TrayMenuModel, ItemsActOnTheState)
{
    AppStateRig rig;
    AppState &state = rig.make();
    int opened = 0, updates = 0, quits = 0;
    const TrayMenuActions actions{[&] { ++opened; }, [&] { ++updates; }, [&] { ++quits; }};
    QList<MenuEntry> menu = buildTrayMenu(state, actions);
    menu[0].trigger();
    menu[menu.size() - 2].trigger();
    menu.back().trigger();
    EXPECT_EQ(opened + updates + quits, 3);

    menu[4].toggle(false); // Show Camera Bubble
    EXPECT_FALSE(state.cameraEnabled());
    menu[7].toggle(true); // Demo Mode
    EXPECT_TRUE(state.demoMode());

    // Start runs as its own task once the menu has closed.
    menu[2].trigger();
    EXPECT_TRUE(state.phase().is(Phase::Kind::idle));
    ASSERT_TRUE(waitUntil([&] { return state.phase().is(Phase::Kind::recording); }));
    menu = buildTrayMenu(state, actions);
    menu[3].trigger(); // Discard Recording
    ASSERT_TRUE(waitUntil([&] { return state.phase().is(Phase::Kind::idle); }));
    EXPECT_EQ(rig.uploader->uploads, 0);
}

TEST(TrayMenu, QMenuFollowsTheModel)
{
    AppStateRig rig;
    AppState &state = rig.make();
    run(state.startRecording());
    run(state.stopRecording());

    QMenu menu;
    const QList<MenuEntry> model = buildTrayMenu(state, {});
    fillTrayMenu(menu, model);
    EXPECT_EQ(outline(menu), outline(model));
    QMenu *links = menu.actions()[outline(model).indexOf("Recent Links >")]->menu();
    ASSERT_NE(links, nullptr);
    EXPECT_EQ(links->actions().size(), 1);

    // Toggling a check item writes the switch through.
    menu.actions()[5]->trigger(); // Record Microphone
    EXPECT_FALSE(state.micEnabled());
    EXPECT_EQ(rig.store->boolValue(QStringLiteral("micEnabled")), false);

    // Rebuilding replaces everything, submenus included.
    fillTrayMenu(menu, buildTrayMenu(state, {}));
    fillTrayMenu(menu, buildTrayMenu(state, {}));
    EXPECT_EQ(menu.findChildren<QMenu *>(QString(), Qt::FindDirectChildrenOnly).size(), 1);
    EXPECT_EQ(outline(menu)[5], QStringLiteral("[ ] Record Microphone"));
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
    const auto actionTitled = [&menu](const QString &prefix) {
        for (QAction *action : menu.actions())
            if (action->text().startsWith(prefix))
                return action;
        return static_cast<QAction *>(nullptr);
    };
    QPointer<QAction> done = actionTitled(QStringLiteral("Done  "));
    QMenu *links = actionTitled(QStringLiteral("Recent Links"))->menu();
    menu.popup(QPoint(40, 40));
    links->popup(QPoint(300, 60));
    ASSERT_TRUE(waitUntil([&] { return links->isVisible(); }));
    const struct {
        int seconds;
        const char *time;
    } ticks[] = {{7, "0:07"}, {1, "0:08"}};
    for (const auto &tick : ticks) {
        rig.now = rig.now.addSecs(tick.seconds);
        ASSERT_TRUE(waitUntil([&] { return done && done->text() == QStringLiteral("Done  ") + tick.time; }))
            << tick.time;
        EXPECT_EQ(actionTitled(QStringLiteral("Recent Links"))->menu(), links);
        EXPECT_TRUE(links->isVisible() && menu.isVisible());
    }
    EXPECT_EQ(actionTitled(QStringLiteral("Done  ")), done);
    // The new handler is in place: Done still stops the recording.
    done->trigger();
    ASSERT_TRUE(waitUntil([&] { return state.phase().is(Phase::Kind::idle); }));
}

TEST(TrayLabel, IconAndTextByPhase)
{
    const QDateTime since = QDateTime::currentDateTime();
    EXPECT_EQ(trayLabelFor(Phase::idle(), "0:00").icon, TrayLabel::Icon::app);
    EXPECT_TRUE(trayLabelFor(Phase::idle(), "0:00").text.isEmpty());
    EXPECT_EQ(trayLabelFor(Phase::starting(), "0:00").icon, TrayLabel::Icon::dottedCircle);
    EXPECT_EQ(trayLabelFor(Phase::recording(since), "62:05").icon, TrayLabel::Icon::app);
    EXPECT_EQ(trayLabelFor(Phase::recording(since), "62:05").text, QStringLiteral("62:05"));
    EXPECT_EQ(trayLabelFor(Phase::finishing(), "1:00").icon, TrayLabel::Icon::dottedCircle);
    EXPECT_EQ(trayLabelFor(Phase::uploading(1, 2), "1:00").icon, TrayLabel::Icon::upArrow);
}

} // namespace
