#pragma once

#include <QObject>

#include <QCoroTask>

#include <chrono>
#include <coroutine>

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
// so nothing is lost between checking a condition and waiting. The waiter is
// resumed from the event loop, once however many notify() calls came, never
// from inside the notifier's caller.
class Notifier final : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    void notify();

    struct Awaiter {
        Notifier *notifier;
        bool await_ready() const noexcept;
        void await_suspend(std::coroutine_handle<> waiter) noexcept { notifier->m_waiter = waiter; }
        void await_resume() const noexcept { notifier->m_pending = false; }
    };
    // Returns at once when a notify() is pending. Callers wait in a loop on
    // their own condition. One waiter at a time.
    Awaiter wait() { return Awaiter{this}; }

private:
    bool m_pending = false;
    bool m_resumePosted = false;
    std::coroutine_handle<> m_waiter;
};

// Waits on the monotonic clock for `duration`, or less when `cancel` fires;
// a cancelled caller does not wait at all.
QCoro::Task<> pauseUnlessCancelled(std::chrono::milliseconds duration, UploadCancellation *cancel);
