#pragma once

#include "service/DeviceToken.h"

#include <QNetworkRequest>
#include <QUrl>

#include <chrono>

// Makes every request the service client sends: the URL below the service
// origin, the per-request time-out, the user agent and the device token.
class RequestFactory {
public:
    RequestFactory(QUrl baseUrl, DeviceToken &token, std::chrono::milliseconds requestTimeout);

    // A request to path (already escaped, starting with "/"). contentType may
    // be empty for requests without a body. A fresh read skips every cache.
    QNetworkRequest make(const QString &path, const QString &contentType = {}, bool freshRead = false) const;
    QUrl url(const QString &path) const;

    // An id as one path segment: every byte outside the unreserved set is
    // percent-encoded, so an id can never reach another path.
    static QString segment(const QString &id);

    static constexpr const char *kTokenHeader = "X-Device-Token";

private:
    QUrl m_baseUrl;
    DeviceToken &m_token;
    std::chrono::milliseconds m_timeout;
};
