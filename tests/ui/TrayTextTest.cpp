// Titles and errors in the tray menu appear as typed.
#include "support/AppStateRig.h"

#include "ui/TrayMenu.h"
#include "ui/TrayMenuModel.h"

#include <QAction>
#include <QMenu>
#include <gtest/gtest.h>

namespace {

TEST(TrayText, AmpersandsAndTabsShowAsTyped)
{
    AppStateRig rig;
    AppState &state = rig.make();
    run(state.startRecording());
    run(state.stopRecording());
    run(state.rename(state.recent().front(), QStringLiteral("Tom & Jerry\tpart 2")));
    rig.recorder->startStep.failure = QStringLiteral("Q&A\tfailed.");
    run(state.startRecording());

    QMenu menu;
    fillTrayMenu(menu, buildTrayMenu(state, TrayMenuActions{}));
    QStringList shown;
    const auto collect = [&shown](const QList<QAction *> &actions) {
        for (QAction *action : actions) {
            EXPECT_FALSE(action->text().contains(QLatin1Char('\t'))) << action->text().toStdString();
            shown << action->iconText();
        }
    };
    collect(menu.actions());
    for (QMenu *sub : menu.findChildren<QMenu *>())
        collect(sub->actions());
    EXPECT_TRUE(shown.contains(QStringLiteral("Q&A failed."))) << shown.join(u'|').toStdString();
    EXPECT_TRUE(shown.contains(QStringLiteral("Tom & Jerry part 2"))) << shown.join(u'|').toStdString();
}

} // namespace
