#include "app/Preferences.h"

#include "platform/PreferenceStore.h"

namespace {
const QString kCameraEnabled = QStringLiteral("cameraEnabled");
const QString kMicEnabled = QStringLiteral("micEnabled");
const QString kShowInDock = QStringLiteral("showInDock");
const QString kBubbleInVideo = QStringLiteral("bubbleInVideo");
const QString kNewVideoLifetime = QStringLiteral("newVideoLifetime");
const QString kRecordingsStarted = QStringLiteral("recordingsStarted");
} // namespace

Preferences::Preferences(PreferenceStore &store, QObject *parent) : QObject(parent), m_store(store)
{
    m_cameraEnabled = store.boolValue(kCameraEnabled).value_or(true);
    m_micEnabled = store.boolValue(kMicEnabled).value_or(true);
    m_showInDock = store.boolValue(kShowInDock).value_or(true);
    if (const auto raw = store.textValue(kBubbleInVideo))
        m_bubbleInVideo = bubbleSpotFromRawValue(*raw).value_or(BubbleSpot::bottomLeft);
    if (const auto stored = store.intValue(kNewVideoLifetime))
        m_newVideoLifetime = lifetimeFromStored(*stored);
    m_recordingsStarted = store.intValue(kRecordingsStarted).value_or(0);
}

std::optional<Lifetime> Preferences::lifetimeFromStored(qint64 stored)
{
    if (stored == kForeverStoredValue)
        return Lifetime::forever();
    if (stored >= Lifetime::kMinimumSeconds)
        return Lifetime::ofSeconds(stored);
    return std::nullopt;
}

void Preferences::setCameraEnabled(bool on)
{
    const bool changed = on != m_cameraEnabled;
    m_cameraEnabled = on;
    m_store.setValue(kCameraEnabled, on);
    if (changed)
        Q_EMIT cameraEnabledChanged();
}

void Preferences::setMicEnabled(bool on)
{
    const bool changed = on != m_micEnabled;
    m_micEnabled = on;
    m_store.setValue(kMicEnabled, on);
    if (changed)
        Q_EMIT micEnabledChanged();
}

void Preferences::setShowInDock(bool on)
{
    const bool changed = on != m_showInDock;
    m_showInDock = on;
    m_store.setValue(kShowInDock, on);
    if (changed)
        Q_EMIT showInDockChanged();
}

void Preferences::setBubbleInVideo(BubbleSpot spot)
{
    const bool changed = spot != m_bubbleInVideo;
    m_bubbleInVideo = spot;
    m_store.setValue(kBubbleInVideo, rawValue(spot));
    if (changed)
        Q_EMIT bubbleInVideoChanged();
}

void Preferences::setBubbleInVideoName(const QString &raw)
{
    if (const auto spot = bubbleSpotFromRawValue(raw))
        setBubbleInVideo(*spot);
}

void Preferences::setNewVideoLifetime(std::optional<Lifetime> lifetime)
{
    const bool changed = lifetime != m_newVideoLifetime;
    m_newVideoLifetime = lifetime;
    if (!lifetime)
        m_store.remove(kNewVideoLifetime);
    else
        m_store.setValue(kNewVideoLifetime, lifetime->isForever() ? kForeverStoredValue : lifetime->seconds());
    if (changed)
        Q_EMIT newVideoLifetimeChanged();
}

void Preferences::setRecordingsStarted(qint64 count)
{
    const bool changed = count != m_recordingsStarted;
    m_recordingsStarted = count;
    m_store.setValue(kRecordingsStarted, count);
    if (changed)
        Q_EMIT recordingsStartedChanged();
}

Lifetime Preferences::effectiveNewLifetime() const
{
    return m_newVideoLifetime.value_or(Lifetime::ofSeconds(LifetimeBounds::kDefaultSeconds));
}
