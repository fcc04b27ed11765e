#include "Await.h"

#include "base/Errors.h"

#include <QDeadlineTimer>
#include <QTimer>

QString failureText(const std::function<void()> &call)
{
    try {
        call();
    } catch (const std::exception &error) {
        return errorDescription(error);
    }
    return {};
}

bool waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    QTimer tick;
    tick.start(2);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

void settle(int ms)
{
    QDeadlineTimer deadline(ms);
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    } while (!deadline.hasExpired());
}
