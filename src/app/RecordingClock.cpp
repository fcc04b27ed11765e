#include "app/RecordingClock.h"

RecordingClock::RecordingClock(NowFunction now, int intervalMs, QObject *parent)
    : QObject(parent), m_now(std::move(now)), m_intervalMs(intervalMs)
{
}

QString RecordingClock::elapsedText(qint64 seconds)
{
    // A wall clock set back during a recording must not show negative time.
    seconds = std::max<qint64>(seconds, 0);
    return QString::asprintf("%lld:%02lld", static_cast<long long>(seconds / 60), static_cast<long long>(seconds % 60));
}

void RecordingClock::start(const QDateTime &since)
{
    m_since = since;
    m_timer = std::make_unique<QTimer>();
    m_timer->setTimerType(Qt::PreciseTimer);
    m_timer->setInterval(m_intervalMs);
    connect(m_timer.get(), &QTimer::timeout, this, &RecordingClock::tick);
    m_timer->start();
}

void RecordingClock::stop()
{
    m_timer.reset();
}

void RecordingClock::tick()
{
    // msecsTo truncates toward zero once divided, as whole seconds should.
    Q_EMIT ticked(elapsedText(m_since.msecsTo(m_now()) / 1000));
}
