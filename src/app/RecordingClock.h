#pragma once

#include "base/Clock.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <memory>

// The elapsed-time text of a recording, refreshed every second while it runs.
// It lives inside the state that owns it, so a tick can never outlive it.
class RecordingClock : public QObject {
    Q_OBJECT

public:
    static constexpr int kDefaultIntervalMs = 1000;

    explicit RecordingClock(NowFunction now = systemNow, int intervalMs = kDefaultIntervalMs,
                            QObject *parent = nullptr);

    // "M:SS" with the minutes not wrapped at 60 (3,725 s reads "62:05").
    static QString elapsedText(qint64 seconds);

    void start(const QDateTime &since);
    void stop();
    bool isRunning() const { return m_timer != nullptr; }

Q_SIGNALS:
    // The elapsed text as of this tick.
    void ticked(const QString &elapsed);

private:
    void tick();

    NowFunction m_now;
    int m_intervalMs;
    QDateTime m_since;
    std::unique_ptr<QTimer> m_timer;
};
