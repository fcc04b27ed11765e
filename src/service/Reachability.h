#pragma once

#include <QObject>
#include <QUrl>

// Whether requests to the service can go out now. While offline, requests
// wait for the network instead of failing at once.
class Reachability : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual bool isOffline() const = 0;

Q_SIGNALS:
    void changed();
};

// The system's view through QNetworkInformation. A loopback origin is always
// reachable, and so is every origin when no reachability backend loads (we
// would rather try and fail than wait forever on a machine that cannot tell).
class SystemReachability final : public Reachability {
    Q_OBJECT
public:
    explicit SystemReachability(const QUrl &origin, QObject *parent = nullptr);
    bool isOffline() const override;

private:
    bool m_watching = false;
};
