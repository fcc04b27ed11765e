#pragma once

#include "app/RecentLink.h"
#include "base/Lifetime.h"

#include <QCoroTask>
#include <QDateTime>

#include <optional>

// The two questions that ask for a lifetime, as a dialog adapter: the views
// show the dialogs, the prompts below decide what the answers mean.
class LifetimeDialogs {
public:
    struct TextAnswer {
        bool set = false; // "Set" rather than "Cancel"
        QString text;
    };
    struct DateAnswer {
        int code = 0;       // the button's answer code, for the log
        bool set = false;   // "Set" rather than "Cancel"
        QDateTime calendar; // the calendar picker's date (its year, month, day count)
        QDateTime time;     // the time picker's date (its hour and minute count)
    };

    virtual ~LifetimeDialogs() = default;

    // A text field (placeholder "3d") with "Set" and "Cancel".
    virtual QCoro::Task<TextAnswer> askForText(QString message, QString informativeText) = 0;
    // A calendar and a time picker limited to [earliest, latest], showing `proposed`.
    virtual QCoro::Task<DateAnswer> askForDate(QString message, QString informativeText, QDateTime earliest,
                                               QDateTime latest, QDateTime proposed) = 0;
};

namespace LifetimePrompts {
inline constexpr int kSetAnswerCode = 1000;
inline constexpr int kCancelAnswerCode = 1001;

// Asks again, explaining, until a valid lifetime is set or the user cancels.
QCoro::Task<std::optional<Lifetime>> promptLifetime(LifetimeDialogs &dialogs, QString message);
// Asks for an end date at least an hour away (59 minutes pass, as one hour).
QCoro::Task<std::optional<Lifetime>> promptUntil(LifetimeDialogs &dialogs, RecentLink link, QDateTime now);

// The first explanation of promptUntil.
QString untilIntroText(const QDateTime &expiresAt, const QDateTime &now);
// One calendar month from now, at most ten years, rounded down to the minute.
QDateTime proposedEnd(const QDateTime &now);
} // namespace LifetimePrompts
