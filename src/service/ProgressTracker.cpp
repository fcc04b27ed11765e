#include "service/ProgressTracker.h"

ProgressTracker::ProgressTracker(qint64 totalBytes, UploadProgress report)
    : m_total(totalBytes), m_report(std::move(report))
{
}

void ProgressTracker::update(qint64 part, qint64 sentBytes)
{
    const QMutexLocker lock(&m_mutex);
    const qint64 clamped = qMax<qint64>(sentBytes, 0);
    qint64 &slot = m_sent[part];
    m_sum += clamped - slot;
    slot = clamped;
    if (m_report)
        m_report(qMin(m_sum, m_total), m_total);
}

void ProgressTracker::finish()
{
    const QMutexLocker lock(&m_mutex);
    if (m_report)
        m_report(m_total, m_total);
}
