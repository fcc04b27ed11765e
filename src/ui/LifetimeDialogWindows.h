#pragma once

#include "app/LifetimePrompts.h"

// The two lifetime questions as modal dialogs: a text field, or a calendar
// with a time picker. Each is shown window-modal and awaited, never run in a
// nested loop.
class LifetimeDialogWindows final : public LifetimeDialogs {
public:
    QCoro::Task<TextAnswer> askForText(QString message, QString informativeText) override;
    QCoro::Task<DateAnswer> askForDate(QString message, QString informativeText, QDateTime earliest, QDateTime latest,
                                       QDateTime proposed) override;
};
