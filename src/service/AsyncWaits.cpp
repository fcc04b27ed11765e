#include "service/AsyncWaits.h"

#include <QPointer>
#include <QTimer>

#include <QCoroSignal>

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
    QMetaObject::invokeMethod(
        this, [this] { Q_EMIT woken(); }, Qt::QueuedConnection);
}

QCoro::Task<> Notifier::wait()
{
    if (!m_pending)
        co_await qCoro(this, &Notifier::woken);
    m_pending = false;
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
