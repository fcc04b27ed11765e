#include "service/AsyncWaits.h"

#include <QPointer>
#include <QTimer>

void UploadCancellation::cancel()
{
    if (m_cancelled)
        return;
    m_cancelled = true;
    Q_EMIT cancelled();
}

void Notifier::notify()
{
    m_pending = true;
    if (!m_waiter || m_resumePosted)
        return;
    m_resumePosted = true;
    // Posted with this object as context: dropped if the notifier is gone.
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_resumePosted = false;
            if (auto waiter = std::exchange(m_waiter, {}))
                waiter.resume();
        },
        Qt::QueuedConnection);
}

bool Notifier::Awaiter::await_ready() const noexcept
{
    if (!notifier->m_pending)
        return false;
    notifier->m_pending = false;
    return true;
}

QCoro::Task<> pauseUnlessCancelled(std::chrono::milliseconds duration, UploadCancellation *cancel)
{
    if (cancel && cancel->isCancelled())
        co_return;
    Notifier done;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &done, &Notifier::notify);
    if (cancel)
        QObject::connect(cancel, &UploadCancellation::cancelled, &done, &Notifier::notify);
    timer.start(duration);
    co_await done.wait();
}
