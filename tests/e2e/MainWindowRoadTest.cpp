// The main window driven as a user would, with mouse and keys, over the real
// uploader and the real mivra-server on 127.0.0.1: a recording left behind
// goes up, its link is renamed, given an end date with "Until…" and deleted.

#include "AppStateRig.h"
#include "Await.h"
#include "RoadRig.h"

#include "app/DateFormatters.h"
#include "service/Uploader.h"
#include "ui/LifetimeDialogWindows.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QCalendarWidget>
#include <QDialog>
#include <QPushButton>
#include <QQuickItem>
#include <QQuickWidget>
#include <QTest>
#include <QTimeEdit>

namespace {

QQuickItem *findItem(QQuickItem *from, const QString &name)
{
    if (!from)
        return nullptr;
    if (from->objectName() == name && from->isVisible())
        return from;
    for (QQuickItem *child : from->childItems())
        if (QQuickItem *found = findItem(child, name))
            return found;
    return nullptr;
}

class MainWindowRoad : public RoadRig {
protected:
    AppStateRig doubles;
    std::unique_ptr<AppState> state;
    std::unique_ptr<MainWindow> window;

    // The main window over an AppState whose uploader talks to the server.
    void showWindow()
    {
        const auto uploader = std::make_shared<Uploader>(QUrl(origin), *doubles.store);
        AppState::Parts parts = doubles.parts();
        parts.uploader = uploader;
        parts.service = uploader;
        parts.dialogs = std::make_shared<LifetimeDialogWindows>();
        parts.serviceOrigin = origin;
        parts.now = systemNow; // the service counts lifetimes from its own clock
        state = std::make_unique<AppState>(std::move(parts), doubles.timing);
        window = std::make_unique<MainWindow>(*state, doubles.clipboard, QUrl(origin));
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    // Waits for the visible item `name`, within the one named `within` if given.
    QQuickItem *item(const QString &name, const QString &within = {}) const
    {
        QQuickItem *root = window->view()->quickWindow()->contentItem();
        QQuickItem *found = nullptr;
        waitUntil(
            [&] { return (found = findItem(within.isEmpty() ? root : findItem(root, within), name)) != nullptr; });
        return found;
    }
    QPoint centre(QQuickItem *target) const
    {
        return target->mapToScene(QPointF(target->width() / 2, target->height() / 2)).toPoint();
    }
    void click(const QString &name, const QString &within = {}) const
    {
        QQuickItem *target = item(name, within);
        ASSERT_NE(target, nullptr) << name.toStdString();
        QTest::mouseClick(window->view(), Qt::LeftButton, Qt::NoModifier, centre(target));
    }
};

TEST_F(MainWindowRoad, LeftBehindUploadRenameUntilAndDelete)
{
    const QString kept = doubles.recordingsFolder() + QStringLiteral("/Mivra 2026-12-05 08.40.12.mp4");
    writeRecording(kept, 600);
    showWindow();
    if (HasFatalFailure())
        return;

    // Upload what was left behind: the normal road, the file gone after.
    click(QStringLiteral("uploadLeftBehind"), QStringLiteral("leftBehindRow_Mivra 2026-12-05 08.40.12"));
    ASSERT_TRUE(waitUntil([&] { return state->recent().size() == 1 && state->phase().is(Phase::Kind::idle); }, 20000))
        << state->lastErrorText().toStdString();
    const RecentLink uploaded = state->recent().front();
    // Titled by the file's name, the link copied, the file gone.
    EXPECT_EQ(std::tuple(uploaded.title, doubles.clipboard->text, QFile::exists(kept)),
              std::tuple("Recording " + DateFormatters::titleText(QDateTime(QDate(2026, 12, 5), QTime(8, 40, 12))),
                         uploaded.shareUrl, false));
    EXPECT_TRUE(waitUntil([&] { return !findItem(window->view()->rootObject(), QStringLiteral("leftBehind")); }));
    EXPECT_FALSE(fetch(uploaded.id).isEmpty()) << "the service serves it";

    // Rename in place: double click, type, Return.
    const QString row = QStringLiteral("linkRow_") + uploaded.id;
    QQuickItem *title = item(QStringLiteral("titleText"), row);
    ASSERT_NE(title, nullptr);
    window->activateWindow();
    window->view()->setFocus();
    QTest::mouseDClick(window->view(), Qt::LeftButton, Qt::NoModifier, centre(title));
    QQuickItem *field = item(QStringLiteral("titleField"));
    ASSERT_NE(field, nullptr);
    ASSERT_TRUE(waitUntil([&] { return field->hasActiveFocus(); }));
    QTest::keyClicks(window->view(), QStringLiteral("Team intro"));
    QTest::keyClick(window->view(), Qt::Key_Return);
    ASSERT_TRUE(waitUntil([&] { return state->recent().front().title == QStringLiteral("Team intro"); }))
        << state->lastErrorText().toStdString();

    // "Until…": the clock menu, then the calendar and time dialog.
    click(QStringLiteral("clockButton"), row);
    click(QStringLiteral("menuEntry_Until…"));
    QDialog *dialog = nullptr;
    ASSERT_TRUE(waitUntil([&] {
        for (QWidget *top : QApplication::topLevelWidgets())
            if (top->objectName() == QLatin1String("untilDialog") && top->isVisible())
                dialog = qobject_cast<QDialog *>(top);
        return dialog != nullptr;
    }));
    const QDateTime chosen(QDate::currentDate().addDays(3), QTime(12, 0));
    dialog->findChild<QCalendarWidget *>(QStringLiteral("untilCalendar"))->setSelectedDate(chosen.date());
    dialog->findChild<QTimeEdit *>(QStringLiteral("untilTime"))->setTime(chosen.time());
    dialog->findChild<QPushButton *>(QStringLiteral("set"))->click();
    ASSERT_TRUE(waitUntil([&] { return qAbs(state->recent().front().expiresAt.secsTo(chosen)) < 5; }))
        << state->recent().front().expiresAt.toString(Qt::ISODate).toStdString();

    // Delete: gone from the list and from the service.
    click(QStringLiteral("deleteButton"), row);
    ASSERT_TRUE(waitUntil([&] { return state->recent().isEmpty(); })) << state->lastErrorText().toStdString();
    EXPECT_TRUE(fetch(uploaded.id).isEmpty()) << "the service still serves it";
}

TEST_F(MainWindowRoad, CommandLineUploadOfARecordingLeftBehindRemovesIt)
{
    const QString video = home.path(QStringLiteral("clip.mp4"));
    ASSERT_EQ(QProcess::execute(QStringLiteral("ffmpeg"), {"-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                                           "testsrc=s=64x48:r=10:d=1", "-pix_fmt", "yuv420p", video}),
              0);
    QDir().mkpath(home.recordingsFolder());
    const struct {
        QString path;
        bool removed;
    } cases[] = {
        {home.recordingsFolder() + QStringLiteral("/Mivra 2026-12-05 08.40.12.mp4"), true},
        {home.path(QStringLiteral("Mivra 2026-12-05 08.40.12.mp4")), false}, // ours by name, but elsewhere
        {home.recordingsFolder() + QStringLiteral("/Holiday.mp4"), false},   // not ours
    };
    for (const auto &c : cases) {
        ASSERT_TRUE(QFile::copy(video, c.path));
        const ChildRun upload = runApp({QStringLiteral("upload"), c.path}, home.env, 30000);
        EXPECT_EQ(upload.status, 0) << upload.err.toStdString();
        EXPECT_EQ(QFile::exists(c.path), !c.removed) << c.path.toStdString();
    }
}

} // namespace
