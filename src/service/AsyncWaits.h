#pragma once

#include <QObject>

#include <QCoroTask>

#include <chrono>

// Stops an upload: aborts its requests in flight and ends its waits at once.
// Main thread only.
class UploadCancellation final : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    void cancel();
    bool isCancelled() const { return m_cancelled; }

Q_SIGNALS:
    void cancelled();

private:
    bool m_cancelled = false;
};

// Wakes one waiting coroutine. A notify() that comes before the wait is kept,
// so nothing is lost between checking a condition and waiting. The wake-up is
// delivered from the event loop, never from inside the notifier's caller, so
// the woken coroutine never runs on a stack that is about to unwind into it.
class Notifier final : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    void notify();
    // Returns at once when a notify() is pending; may also return spuriously,
    // so callers wait in a loop on their own condition.
    QCoro::Task<> wait();

Q_SIGNALS:
    void woken();

private:
    bool m_pending = false;
};

// Waits on the monotonic clock for `duration`, or less when `cancel` fires;
// a cancelled caller does not wait at all.
QCoro::Task<> pauseUnlessCancelled(std::chrono::milliseconds duration, UploadCancellation *cancel);
