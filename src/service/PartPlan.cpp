#include "service/PartPlan.h"

PartPlan::PartPlan(qint64 totalBytes, qint64 partSizeBytes)
    : m_total(qMax<qint64>(totalBytes, 0)), m_partSize(qMax<qint64>(partSizeBytes, 1)),
      m_count(m_total / m_partSize + (m_total % m_partSize ? 1 : 0))
{
}

PartSlice PartPlan::at(qint64 index) const
{
    const qint64 offset = index * m_partSize;
    return PartSlice{index + 1, offset, qMin(m_total - offset, m_partSize)};
}

QList<PartSlice> PartPlan::slices() const
{
    QList<PartSlice> list;
    for (qint64 i = 0; i < m_count; ++i)
        list.append(at(i));
    return list;
}
