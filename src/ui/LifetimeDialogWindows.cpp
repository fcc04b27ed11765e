#include "ui/LifetimeDialogWindows.h"

#include <QCalendarWidget>
#include <QCoroSignal>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimeEdit>
#include <QVBoxLayout>

#include <memory>

namespace {

struct DialogDeleter {
    void operator()(QDialog *dialog) const { dialog->deleteLater(); }
};
using DialogHandle = std::unique_ptr<QDialog, DialogDeleter>;

// Message, explanation, the accessory, and "Set" / "Cancel".
DialogHandle makeDialog(const QString &objectName, const QString &message, const QString &informativeText,
                        QWidget *accessory)
{
    DialogHandle dialog(new QDialog(nullptr, Qt::Dialog | Qt::WindowStaysOnTopHint));
    dialog->setObjectName(objectName);
    dialog->setWindowTitle(QStringLiteral("Mivra Video"));
    dialog->setModal(true);
    auto *layout = new QVBoxLayout(dialog.get());
    auto *title = new QLabel(message);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    auto *informative = new QLabel(informativeText);
    informative->setObjectName(QStringLiteral("informative"));
    informative->setWordWrap(true);
    informative->setMinimumWidth(300);
    auto *buttons = new QDialogButtonBox;
    QPushButton *set = buttons->addButton(QStringLiteral("Set"), QDialogButtonBox::AcceptRole);
    set->setObjectName(QStringLiteral("set"));
    set->setDefault(true);
    buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole)->setObjectName(QStringLiteral("cancel"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog.get(), &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog.get(), &QDialog::reject);
    layout->addWidget(title);
    layout->addWidget(informative);
    layout->addWidget(accessory);
    layout->addWidget(buttons);
    return dialog;
}

// Shows the dialog in front of every other app and waits for its answer.
QCoro::Task<int> answer(QDialog *dialog)
{
    dialog->open();
    dialog->raise();
    dialog->activateWindow();
    const std::optional<int> result = co_await qCoro(dialog, &QDialog::finished);
    co_return result.value_or(QDialog::Rejected);
}

} // namespace

QCoro::Task<LifetimeDialogs::TextAnswer> LifetimeDialogWindows::askForText(QString message, QString informativeText)
{
    auto *field = new QLineEdit;
    field->setObjectName(QStringLiteral("lifetimeText"));
    field->setPlaceholderText(QStringLiteral("3d"));
    field->setFixedSize(220, 24);
    DialogHandle dialog = makeDialog(QStringLiteral("lifetimeDialog"), message, informativeText, field);
    field->setFocus();
    const QPointer<QLineEdit> text(field);
    const int result = co_await answer(dialog.get());
    co_return TextAnswer{result == QDialog::Accepted, text ? text->text() : QString()};
}

QCoro::Task<LifetimeDialogs::DateAnswer> LifetimeDialogWindows::askForDate(QString message, QString informativeText,
                                                                           QDateTime earliest, QDateTime latest,
                                                                           QDateTime proposed)
{
    auto *accessory = new QWidget;
    auto *column = new QVBoxLayout(accessory);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);
    auto *calendar = new QCalendarWidget;
    calendar->setObjectName(QStringLiteral("untilCalendar"));
    calendar->setDateRange(earliest.toLocalTime().date(), latest.toLocalTime().date());
    calendar->setSelectedDate(proposed.toLocalTime().date());
    auto *time = new QTimeEdit(proposed.toLocalTime().time());
    time->setObjectName(QStringLiteral("untilTime"));
    // Hour and minute, in the user's 12- or 24-hour style.
    // (the C locale's short format still shows seconds).
    time->setDisplayFormat(QLocale().timeFormat(QLocale::ShortFormat).remove(QStringLiteral(":ss")));
    auto *row = new QHBoxLayout;
    row->addWidget(new QLabel(QStringLiteral("At")));
    row->addWidget(time);
    row->addStretch();
    column->addWidget(calendar, 0, Qt::AlignLeft);
    column->addLayout(row);
    DialogHandle dialog = makeDialog(QStringLiteral("untilDialog"), message, informativeText, accessory);

    const QPointer<QCalendarWidget> chosenDay(calendar);
    const QPointer<QTimeEdit> chosenTime(time);
    const int result = co_await answer(dialog.get());
    DateAnswer reply;
    reply.set = result == QDialog::Accepted;
    reply.code = reply.set ? LifetimePrompts::kSetAnswerCode : LifetimePrompts::kCancelAnswerCode;
    if (chosenDay && chosenTime) {
        reply.calendar = QDateTime(chosenDay->selectedDate(), QTime(0, 0));
        reply.time = QDateTime(QDate::currentDate(), chosenTime->time());
    }
    co_return reply;
}
