#pragma once

#include "base/Lifetime.h"
#include "capture/BubbleSpot.h"

#include <QObject>

#include <optional>

class PreferenceStore;

// The user's switches, read once from the store and written through on every
// set. A set with an equal value notifies nobody but is still written.
class Preferences : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool cameraEnabled READ cameraEnabled WRITE setCameraEnabled NOTIFY cameraEnabledChanged)
    Q_PROPERTY(bool micEnabled READ micEnabled WRITE setMicEnabled NOTIFY micEnabledChanged)
    Q_PROPERTY(bool showInDock READ showInDock WRITE setShowInDock NOTIFY showInDockChanged)
    Q_PROPERTY(QString bubbleInVideoName READ bubbleInVideoName WRITE setBubbleInVideoName NOTIFY bubbleInVideoChanged)
    Q_PROPERTY(qint64 recordingsStarted READ recordingsStarted NOTIFY recordingsStartedChanged)
    Q_PROPERTY(QString effectiveNewLifetimeLabel READ effectiveNewLifetimeLabel NOTIFY newVideoLifetimeChanged)

public:
    static constexpr qint64 kForeverStoredValue = -1;

    explicit Preferences(PreferenceStore &store, QObject *parent = nullptr);

    bool cameraEnabled() const { return m_cameraEnabled; }
    void setCameraEnabled(bool on);
    bool micEnabled() const { return m_micEnabled; }
    void setMicEnabled(bool on);
    bool showInDock() const { return m_showInDock; }
    void setShowInDock(bool on);
    BubbleSpot bubbleInVideo() const { return m_bubbleInVideo; }
    void setBubbleInVideo(BubbleSpot spot);
    QString bubbleInVideoName() const { return rawValue(m_bubbleInVideo); }
    void setBubbleInVideoName(const QString &raw);
    std::optional<Lifetime> newVideoLifetime() const { return m_newVideoLifetime; }
    void setNewVideoLifetime(std::optional<Lifetime> lifetime);
    qint64 recordingsStarted() const { return m_recordingsStarted; }
    void setRecordingsStarted(qint64 count);

    // What new videos get: the chosen lifetime, or 30 days.
    Lifetime effectiveNewLifetime() const;
    QString effectiveNewLifetimeLabel() const { return effectiveNewLifetime().label(); }

    // The stored integer's meaning: -1 forever, 3600 or more seconds, else none.
    static std::optional<Lifetime> lifetimeFromStored(qint64 stored);

Q_SIGNALS:
    void cameraEnabledChanged();
    void micEnabledChanged();
    void showInDockChanged();
    void bubbleInVideoChanged();
    void newVideoLifetimeChanged();
    void recordingsStartedChanged();

private:
    PreferenceStore &m_store;
    bool m_cameraEnabled = true;
    bool m_micEnabled = true;
    bool m_showInDock = true;
    BubbleSpot m_bubbleInVideo = BubbleSpot::bottomLeft;
    std::optional<Lifetime> m_newVideoLifetime;
    qint64 m_recordingsStarted = 0;
};
