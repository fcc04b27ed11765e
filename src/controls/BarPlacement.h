#pragma once

#include <QObject>

// Where the recording bar stands relative to the bubble, observed by the
// bar's view. Fields change only on real changes, so the view re-renders
// only then.
class BarPlacement final : public QObject {
    Q_OBJECT
    Q_PROPERTY(Edge edge READ edge NOTIFY edgeChanged)
    Q_PROPERTY(double pillOffset READ pillOffset NOTIFY pillOffsetChanged)
public:
    enum class Edge { top, belowBubble, aboveBubble };
    Q_ENUM(Edge)

    using QObject::QObject;

    Edge edge() const { return m_edge; }
    double pillOffset() const { return m_pillOffset; }
    void setEdge(Edge edge);
    void setPillOffset(double offset);

Q_SIGNALS:
    void edgeChanged();
    void pillOffsetChanged();

private:
    Edge m_edge = Edge::top;
    double m_pillOffset = 0;
};
