#pragma once

#include <QList>
#include <QtGlobal>

// One planned part: 1-based number, byte offset into the file, length.
struct PartSlice {
    qint64 number = 0;
    qint64 offset = 0;
    qint64 length = 0;

    friend bool operator==(const PartSlice &, const PartSlice &) = default;
};

// The parts of a file of totalBytes sent in parts of partSizeBytes: every part
// but the last is exactly partSizeBytes long, the last holds the remainder.
// Slices are computed on demand, so a tiny part size cannot make us allocate
// a huge list. partSizeBytes must be positive.
class PartPlan {
public:
    PartPlan(qint64 totalBytes, qint64 partSizeBytes);

    qint64 count() const { return m_count; }
    PartSlice at(qint64 index) const;
    QList<PartSlice> slices() const;

private:
    qint64 m_total;
    qint64 m_partSize;
    qint64 m_count;
};
