#include "app/Phase.h"

#include "app/ByteCountText.h"

#include <cmath>

namespace {
constexpr qint64 kLargestKilobyteTotal = 999999;
}

Phase Phase::recording(const QDateTime &since)
{
    Phase phase(Kind::recording);
    phase.m_since = since;
    return phase;
}

Phase Phase::uploading(qint64 sentBytes, qint64 totalBytes)
{
    Phase phase(Kind::uploading);
    phase.m_sentBytes = sentBytes;
    phase.m_totalBytes = totalBytes;
    return phase;
}

QString Phase::uploadText(const QLocale &locale) const
{
    if (m_kind != Kind::uploading || m_totalBytes < 1)
        return QStringLiteral("Uploading\u2026");
    const double percent = std::trunc(static_cast<double>(m_sentBytes) / static_cast<double>(m_totalBytes) * 100.0);
    const bool inMegabytes = m_totalBytes > kLargestKilobyteTotal;
    const auto format = inMegabytes ? ByteCountText::megabytes : ByteCountText::kilobytes;
    return QStringLiteral("Uploading %1% \u00b7 %2 of %3 %4")
        .arg(QString::number(static_cast<qint64>(percent)), format(m_sentBytes, locale), format(m_totalBytes, locale),
             inMegabytes ? QStringLiteral("MB") : QStringLiteral("KB"));
}

QString Phase::name() const
{
    switch (m_kind) {
    case Kind::idle:
        return QStringLiteral("idle");
    case Kind::starting:
        return QStringLiteral("starting");
    case Kind::recording:
        return QStringLiteral("recording");
    case Kind::finishing:
        return QStringLiteral("finishing");
    case Kind::uploading:
        return QStringLiteral("uploading");
    }
    return QString();
}

bool operator==(const Phase &a, const Phase &b)
{
    if (a.m_kind != b.m_kind)
        return false;
    switch (a.m_kind) {
    case Phase::Kind::recording:
        return a.m_since == b.m_since;
    case Phase::Kind::uploading:
        return a.m_sentBytes == b.m_sentBytes && a.m_totalBytes == b.m_totalBytes;
    default:
        return true;
    }
}
