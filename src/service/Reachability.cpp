#include "service/Reachability.h"

#include <QHostAddress>
#include <QNetworkInformation>

namespace {

bool isLoopback(const QUrl &origin)
{
    const QString host = origin.host();
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

} // namespace

SystemReachability::SystemReachability(const QUrl &origin, QObject *parent) : Reachability(parent)
{
    if (isLoopback(origin))
        return;
    if (!QNetworkInformation::instance() &&
        !QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability))
        return;
    m_watching = true;
    connect(QNetworkInformation::instance(), &QNetworkInformation::reachabilityChanged, this, &Reachability::changed);
}

bool SystemReachability::isOffline() const
{
    if (!m_watching || !QNetworkInformation::instance())
        return false;
    return QNetworkInformation::instance()->reachability() == QNetworkInformation::Reachability::Disconnected;
}
