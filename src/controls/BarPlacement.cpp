#include "controls/BarPlacement.h"

void BarPlacement::setEdge(Edge edge)
{
    if (edge == m_edge)
        return;
    m_edge = edge;
    Q_EMIT edgeChanged();
}

void BarPlacement::setPillOffset(double offset)
{
    if (offset == m_pillOffset)
        return;
    m_pillOffset = offset;
    Q_EMIT pillOffsetChanged();
}
