#include "controls/RecordingBarBackend.h"

#include "app/AppState.h"
#include "app/MainThreadTask.h"
#include "controls/RecordingBar.h"
#include "controls/ShownState.h"
#include "platform/LeftOutWindows.h"

#include <QApplication>
#include <QMetaEnum>
#include <QToolTip>
#include <QWidget>

RecordingBarBackend::RecordingBarBackend(AppState *state, BarPlacement *placement, bool showHint, QObject *parent)
    : QObject(parent), m_state(state), m_placement(placement), m_showHint(showHint)
{
    connect(m_state, &AppState::phaseChanged, this, &RecordingBarBackend::phaseChanged);
    connect(m_state, &AppState::elapsedChanged, this, &RecordingBarBackend::elapsedChanged);
    connect(m_state, &AppState::bubbleInVideoChanged, this, &RecordingBarBackend::hintTextChanged);
    connect(m_placement, &BarPlacement::edgeChanged, this, &RecordingBarBackend::edgeChanged);
    connect(m_placement, &BarPlacement::edgeChanged, this, &RecordingBarBackend::hintTextChanged);
    connect(m_placement, &BarPlacement::pillOffsetChanged, this, &RecordingBarBackend::pillOffsetChanged);
}

QString RecordingBarBackend::phase() const
{
    return m_state->phase().name();
}

QString RecordingBarBackend::elapsed() const
{
    return m_state->elapsed();
}

QString RecordingBarBackend::uploadText() const
{
    return m_state->phase().uploadText();
}

QVariant RecordingBarBackend::uploadFraction() const
{
    const std::optional<double> fraction = ::uploadFraction(m_state->phase());
    return fraction ? QVariant(*fraction) : QVariant();
}

QString RecordingBarBackend::hintText() const
{
    const QString start = QStringLiteral("Click Done when you're finished, or the trash can to throw it away. ");
    if (m_placement->edge() == BarPlacement::Edge::top)
        return start + QStringLiteral("You can drag this bar anywhere.");
    const BubbleSpot spot = m_state->bubbleInVideo();
    if (spot == BubbleSpot::asOnScreen)
        return start + QStringLiteral("Drag your bubble and these controls follow.");
    return start + QStringLiteral("Drag your bubble anywhere; in the video it shows ") +
           bubbleSpotTitle(spot).toLower() + QLatin1Char('.');
}

QString RecordingBarBackend::edge() const
{
    return QString::fromLatin1(QMetaEnum::fromType<BarPlacement::Edge>().valueToKey(int(m_placement->edge())));
}

double RecordingBarBackend::pillOffset() const
{
    return m_placement->pillOffset();
}

void RecordingBarBackend::done()
{
    AppState *state = m_state;
    launchTask(state, [state] { return state->stopRecording(); });
}

void RecordingBarBackend::discard()
{
    AppState *state = m_state;
    launchTask(state, [state] { return state->discardRecording(); });
}

void RecordingBarBackend::showTooltip(const QString &text, QPointF globalPosition)
{
    // Tooltip windows are widgets: a process without widgets goes without them.
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return;
    QToolTip::showText(globalPosition.toPoint(), text);
    if (!RecordingBar::capturable())
        leaveTooltipOut();
}

void RecordingBarBackend::leaveTooltipOut()
{
    // The tip is a window of its own above the bar: it stays out of the video with the bar.
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget *widget : windows) {
        if (!widget->inherits("QTipLabel") || !widget->isVisible() || !widget->windowHandle())
            continue;
        const auto id = static_cast<quint32>(widget->winId());
        if (!LeftOutWindows::instance().ids().contains(id)) {
            LeftOutWindows::instance().add(id);
            QObject::connect(widget, &QObject::destroyed, [id] { LeftOutWindows::instance().remove(id); });
        }
    }
}

void RecordingBarBackend::hideTooltip()
{
    if (qobject_cast<QApplication *>(QCoreApplication::instance()))
        QToolTip::hideText();
}
