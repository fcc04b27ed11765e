#include "Await.h"
#include "QtPrinters.h"
#include "ScreenshotCompare.h"

#include "ui/LifetimeDialogWindows.h"

#include <QApplication>
#include <QCalendarWidget>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTimeEdit>
#include <gtest/gtest.h>

namespace {

// The dialog named `name` once it is up, in front of the app.
QDialog *openDialog(const char *name)
{
    const auto up = [name] {
        QWidget *modal = QApplication::activeModalWidget();
        return modal && modal->objectName() == QLatin1String(name) ? qobject_cast<QDialog *>(modal) : nullptr;
    };
    waitUntil([&] { return up() != nullptr; });
    return up();
}

TEST(LifetimeDialogWindows, TextDialogAnswersSetOrCancel)
{
    for (const bool set : {true, false}) {
        LifetimeDialogWindows dialogs;
        auto asking = dialogs.askForText(QStringLiteral("How long should new videos last?"),
                                         QStringLiteral("For example 12h, 3d, 2w, 3mo or 1y."));
        QDialog *dialog = openDialog("lifetimeDialog");
        ASSERT_NE(dialog, nullptr);
        auto *field = dialog->findChild<QLineEdit *>(QStringLiteral("lifetimeText"));
        field->setText(QStringLiteral("2w"));
        EXPECT_TRUE(matchesReference(dialog->grab().toImage(), QStringLiteral("lifetime-dialog")));
        dialog->findChild<QPushButton *>(set ? QStringLiteral("set") : QStringLiteral("cancel"))->click();
        const LifetimeDialogs::TextAnswer answer = run(std::move(asking));
        EXPECT_EQ(std::pair(answer.set, answer.text), std::pair(set, QStringLiteral("2w")));
    }
}

TEST(LifetimeDialogWindows, DateDialogKeepsToItsRangeAndAnswersTheChoice)
{
    LifetimeDialogWindows dialogs;
    // A fixed day, so that the calendar looks the same on every run.
    const QDateTime now(QDate(2026, 12, 5), QTime(8, 55));
    const QDateTime earliest(now.date(), QTime(0, 0));
    const QDateTime latest = now.addYears(10);
    const QDateTime proposed(now.date().addMonths(1), QTime(9, 30));
    auto asking = dialogs.askForDate(QStringLiteral("When should this video expire?"),
                                     QStringLiteral("It's kept forever now. Pick any time at least an hour from now."),
                                     earliest, latest, proposed);
    QDialog *dialog = openDialog("untilDialog");
    ASSERT_NE(dialog, nullptr);
    auto *calendar = dialog->findChild<QCalendarWidget *>(QStringLiteral("untilCalendar"));
    auto *time = dialog->findChild<QTimeEdit *>(QStringLiteral("untilTime"));
    EXPECT_EQ(QDateTime(calendar->selectedDate(), time->time()), proposed);
    calendar->setSelectedDate(now.date().addDays(-3));
    EXPECT_GE(calendar->selectedDate(), earliest.date()) << "no day before today";
    calendar->setSelectedDate(now.date().addDays(2));
    time->setTime(QTime(14, 5));
    EXPECT_TRUE(matchesReference(dialog->grab().toImage(), QStringLiteral("until-dialog")));
    dialog->findChild<QPushButton *>(QStringLiteral("set"))->click();
    const LifetimeDialogs::DateAnswer answer = run(std::move(asking));
    EXPECT_EQ(std::tuple(answer.set, answer.calendar.date(), answer.time.time()),
              std::tuple(true, now.date().addDays(2), QTime(14, 5)));
}

} // namespace
