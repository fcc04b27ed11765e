#include "service/ServiceOrigin.h"

#include "base/Diag.h"

namespace {

QUrl normalised(QUrl url)
{
    QString path = url.path();
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    url.setPath(path);
    return url;
}

bool usable(const QUrl &url)
{
    return url.isValid() && (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https")) &&
           !url.host().isEmpty() && !url.hasQuery() && !url.hasFragment();
}

} // namespace

QUrl serviceOriginFrom(const QString &environmentValue)
{
    static const QUrl builtIn = normalised(QUrl(QStringLiteral(MIVRA_DEFAULT_SERVICE_ORIGIN)));
    const QString trimmed = environmentValue.trimmed();
    if (trimmed.isEmpty())
        return builtIn;
    const QUrl candidate(trimmed, QUrl::StrictMode);
    if (!usable(candidate)) {
        // A typo must not send the device token somewhere unexpected.
        Diag::log(
            QStringLiteral("upload: ignoring MIVRA_SERVICE_ORIGIN \"%1\", using %2").arg(trimmed, builtIn.toString()));
        return builtIn;
    }
    return normalised(candidate);
}

QUrl serviceOrigin()
{
    return serviceOriginFrom(qEnvironmentVariable("MIVRA_SERVICE_ORIGIN"));
}
