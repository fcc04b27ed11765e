#include "service/RequestFactory.h"

RequestFactory::RequestFactory(QUrl baseUrl, DeviceToken &token, std::chrono::milliseconds requestTimeout)
    : m_baseUrl(std::move(baseUrl)), m_token(token), m_timeout(requestTimeout)
{
}

QUrl RequestFactory::url(const QString &path) const
{
    QUrl url = m_baseUrl;
    QString base = url.path(QUrl::FullyEncoded);
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    // Tolerant mode keeps the percent escapes of segment() as escapes.
    const qsizetype query = path.indexOf(QLatin1Char('?'));
    url.setPath(base + path.left(query), QUrl::TolerantMode);
    if (query >= 0)
        url.setQuery(path.mid(query + 1), QUrl::TolerantMode);
    return url;
}

QString RequestFactory::segment(const QString &id)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(id));
}

QNetworkRequest RequestFactory::make(const QString &path, const QString &contentType, bool freshRead) const
{
    QNetworkRequest request(url(path));
    // An idle limit: Qt aborts when no byte moves for this long, which is how
    // the platform HTTP client the design names treats its request time-out.
    request.setTransferTimeout(int(m_timeout.count()));
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Mivra Video/" MIVRA_VERSION));
    if (!contentType.isEmpty())
        request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
    // The token must never follow a redirect to another origin.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    request.setRawHeader(kTokenHeader, m_token.value().toLatin1());
    if (freshRead) {
        request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
        request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    }
    return request;
}
