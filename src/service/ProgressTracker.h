#pragma once

#include "service/VideoService.h"

#include <QHash>
#include <QMutex>

// Folds the per-part byte counts of one upload into one figure. Updates are
// serialised: `report` is called under the lock, so the caller's callback is
// never entered by two updates at once, whatever thread they come from.
class ProgressTracker {
public:
    ProgressTracker(qint64 totalBytes, UploadProgress report);

    // Replaces the part's count and reports (min(sum, total), total).
    void update(qint64 part, qint64 sentBytes);
    // Reports (total, total).
    void finish();

    qint64 totalBytes() const { return m_total; }

private:
    QMutex m_mutex;
    QHash<qint64, qint64> m_sent;
    qint64 m_sum = 0;
    const qint64 m_total;
    const UploadProgress m_report;
};
