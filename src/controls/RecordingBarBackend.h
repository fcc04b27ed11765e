#pragma once

#include "controls/BarPlacement.h"

#include <QObject>
#include <QPointF>
#include <QString>
#include <QVariant>

class AppState;

// What the recording bar's view binds to: the shared state and the bar's
// placement in the shapes the view shows, and the two actions of its buttons.
// One per recording, so the view's own state starts afresh each time.
class RecordingBarBackend final : public QObject {
    Q_OBJECT
    // The phase's case name: "idle", "starting", "recording", "finishing", "uploading".
    Q_PROPERTY(QString phase READ phase NOTIFY phaseChanged)
    Q_PROPERTY(QString elapsed READ elapsed NOTIFY elapsedChanged)
    Q_PROPERTY(QString uploadText READ uploadText NOTIFY phaseChanged)
    // Sent over total, undefined while the total is not known (the ring spins).
    Q_PROPERTY(QVariant uploadFraction READ uploadFraction NOTIFY phaseChanged)
    Q_PROPERTY(bool showHint READ showHint CONSTANT)
    Q_PROPERTY(QString hintText READ hintText NOTIFY hintTextChanged)
    // The placement's edge by name: "top", "belowBubble", "aboveBubble".
    Q_PROPERTY(QString edge READ edge NOTIFY edgeChanged)
    Q_PROPERTY(double pillOffset READ pillOffset NOTIFY pillOffsetChanged)

public:
    RecordingBarBackend(AppState *state, BarPlacement *placement, bool showHint, QObject *parent = nullptr);

    QString phase() const;
    QString elapsed() const;
    QString uploadText() const;
    QVariant uploadFraction() const;
    bool showHint() const { return m_showHint; }
    QString hintText() const;
    QString edge() const;
    double pillOffset() const;

    Q_INVOKABLE void done();
    Q_INVOKABLE void discard();
    // The bar is too small to hold a tooltip, so tooltips are windows of their own.
    Q_INVOKABLE void showTooltip(const QString &text, QPointF globalPosition);
    Q_INVOKABLE void hideTooltip();

Q_SIGNALS:
    void phaseChanged();
    void elapsedChanged();
    void hintTextChanged();
    void edgeChanged();
    void pillOffsetChanged();

private:
    void leaveTooltipOut();
    AppState *m_state;
    BarPlacement *m_placement;
    bool m_showHint;
};
