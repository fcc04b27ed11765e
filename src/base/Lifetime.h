#pragma once

#include "base/LifetimeBounds.h"

#include <QJsonValue>
#include <QList>
#include <QString>

#include <optional>

// How long a video lives on the service: a number of seconds, or forever.
class Lifetime {
public:
    static constexpr qint64 kMinimumSeconds = LifetimeBounds::kMinimumSeconds;
    static constexpr qint64 kMaximumSeconds = LifetimeBounds::kMaximumSeconds;

    static Lifetime ofSeconds(qint64 seconds) { return Lifetime(false, seconds); }
    static Lifetime forever() { return Lifetime(true, 0); }

    bool isForever() const { return m_forever; }
    // Meaningful only when not forever.
    qint64 seconds() const { return m_seconds; }

    // What the user may type: "12h", "3d12h", "2 weeks", "forever" (case and
    // white space ignored); none when invalid or out of bounds.
    static std::optional<Lifetime> parse(const QString &text);
    // The ready choices of the lifetime menus, in order.
    static const QList<Lifetime> &presets();
    // "1 day 2 hours", "3 months", "Forever".
    QString label() const;
    // On the wire: the JSON integer of seconds, or the string "forever".
    QJsonValue wireValue() const;
    // Seconds as text, or "forever" (for log lines).
    QString secondsText() const;

    friend bool operator==(const Lifetime &a, const Lifetime &b)
    {
        return a.m_forever == b.m_forever && (a.m_forever || a.m_seconds == b.m_seconds);
    }

private:
    Lifetime(bool forever, qint64 seconds) : m_forever(forever), m_seconds(seconds) {}
    bool m_forever = false;
    qint64 m_seconds = 0;
};

size_t qHash(const Lifetime &lifetime, size_t seed = 0);
