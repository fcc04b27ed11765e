#include "app/LinkLibrary.h"

#include "base/Diag.h"
#include "base/Errors.h"
#include "platform/PreferenceStore.h"
#include "service/VideoService.h"

#include <QHash>

namespace {
const QString kRecentLinks = QStringLiteral("recentLinks");
const char *const kPreviewVariable = "MIVRA_PREVIEW_LINKS";
} // namespace

LinkLibrary::LinkLibrary(PreferenceStore &store, VideoService &service,
                         std::function<void(const QString &id)> removeThumbnail, QString serviceOrigin, NowFunction now,
                         QObject *parent)
    : QObject(parent), m_store(store), m_service(service), m_removeThumbnail(std::move(removeThumbnail)),
      m_serviceOrigin(std::move(serviceOrigin)), m_now(std::move(now))
{
    load();
}

void LinkLibrary::load()
{
    const QDateTime now = m_now();
    if (const auto data = m_store.dataValue(kRecentLinks)) {
        // Undecodable data gives an empty list and stays stored until the next save.
        for (const RecentLink &link : RecentLinkCoding::decode(*data).value_or(QList<RecentLink>{})) {
            if (link.expiresAt > now)
                m_recent.append(link);
        }
    }
    // Set but empty still means preview mode.
    if (qEnvironmentVariableIsSet(kPreviewVariable)) {
        m_previewLinks = true;
        m_recent = previewLinksFrom(qEnvironmentVariable(kPreviewVariable), m_serviceOrigin, now);
    }
}

QList<RecentLink> LinkLibrary::previewLinksFrom(const QString &value, const QString &serviceOrigin,
                                                const QDateTime &now)
{
    QList<RecentLink> links;
    for (const QString &piece : value.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        // Leading colons make empty parts, which are dropped; a piece of colons
        // alone has no id and gives no link.
        qsizetype start = 0;
        while (start < piece.size() && piece.at(start) == QLatin1Char(':'))
            ++start;
        if (start == piece.size())
            continue;
        const QString rest = piece.mid(start);
        const qsizetype colon = rest.indexOf(QLatin1Char(':'));
        const QString id = colon < 0 ? rest : rest.left(colon);
        const QString title = colon < 0 ? QString() : rest.mid(colon + 1);
        links.append(RecentLink{id, serviceOrigin + QStringLiteral("/v/") + id,
                                title.isEmpty() ? QStringLiteral("Recording") : title, now,
                                now.addSecs(kPreviewLifetimeSeconds)});
    }
    return links;
}

void LinkLibrary::saveRecent()
{
    if (m_previewLinks)
        return;
    m_store.setValue(kRecentLinks, RecentLinkCoding::encode(m_recent));
}

void LinkLibrary::setRecent(QList<RecentLink> links)
{
    const bool changed = links != m_recent;
    m_recent = std::move(links);
    saveRecent();
    if (changed)
        Q_EMIT recentChanged();
}

void LinkLibrary::addNew(const RecentLink &link)
{
    QList<RecentLink> links = m_recent;
    links.prepend(link);
    m_addedAt.insert(link.id, ++m_additions);
    if (links.size() > kMaxLinks)
        links.resize(kMaxLinks);
    setRecent(std::move(links));
}

QCoro::Task<> LinkLibrary::refreshFromServer()
{
    if (m_previewLinks)
        co_return;
    const quint64 asked = m_additions;
    VideoList list;
    try {
        list = co_await m_service.listVideos();
    } catch (const std::exception &) {
        // Offline or refused: the local list stays as it is.
        co_return;
    }
    // When the service lists an id twice, its first item wins.
    QHash<QString, VideoList::Item> items;
    for (const VideoList::Item &item : list.videos) {
        if (!items.contains(item.id))
            items.insert(item.id, item);
    }
    // Walk the list as it is now: it may have changed while we waited.
    QList<RecentLink> kept;
    for (RecentLink link : m_recent) {
        const auto it = items.constFind(link.id);
        if (it == items.cend() && m_addedAt.value(link.id) > asked) {
            // Added after the list was asked for: the answer may not know it yet.
            kept.append(link);
            continue;
        }
        if (it == items.cend()) {
            m_removeThumbnail(link.id);
            continue;
        }
        link.expiresAt = RecentLinkCoding::fromEpochMilliseconds(it->expiresAtMs);
        if (it->title && !it->title->isEmpty())
            link.title = *it->title;
        kept.append(link);
    }
    setRecent(std::move(kept));
}

QCoro::Task<> LinkLibrary::deleteLink(RecentLink link)
{
    try {
        co_await m_service.deleteVideo(link.id);
    } catch (const std::exception &error) {
        Q_EMIT failed(QStringLiteral("Could not delete: ") + errorDescription(error));
        co_return;
    }
    QList<RecentLink> links = m_recent;
    links.removeIf([&](const RecentLink &l) { return l.id == link.id; });
    m_removeThumbnail(link.id);
    setRecent(std::move(links));
}

QCoro::Task<> LinkLibrary::rename(RecentLink link, QString title)
{
    const QString trimmed = title.trimmed();
    if (trimmed.isEmpty() || trimmed == link.title)
        co_return;
    TitleResponse reply;
    try {
        reply = co_await m_service.rename(link.id, trimmed);
    } catch (const std::exception &error) {
        Q_EMIT failed(QStringLiteral("Could not rename it: ") + errorDescription(error));
        co_return;
    }
    QList<RecentLink> links = m_recent;
    for (RecentLink &l : links) {
        if (l.id == link.id) {
            l.title = reply.title;
            setRecent(std::move(links));
            co_return;
        }
    }
}

QCoro::Task<> LinkLibrary::setLifetime(RecentLink link, Lifetime lifetime)
{
    Diag::log(QStringLiteral("lifetime %1: asked %2 (%3)").arg(link.id, lifetime.label(), lifetime.secondsText()));
    KeepResponse reply;
    try {
        reply = co_await m_service.setExpiry(link.id, lifetime);
    } catch (const std::exception &error) {
        Diag::log(QStringLiteral("lifetime %1: failed %2").arg(link.id, errorDebugText(error)));
        Q_EMIT failed(QStringLiteral("Could not change how long it lasts: ") + errorDescription(error));
        co_return;
    }
    Diag::log(QStringLiteral("lifetime %1: server says expires %2").arg(link.id, QString::number(reply.expiresAtMs)));
    QList<RecentLink> links = m_recent;
    for (RecentLink &l : links) {
        if (l.id == link.id)
            l.expiresAt = RecentLinkCoding::fromEpochMilliseconds(reply.expiresAtMs);
    }
    setRecent(std::move(links));
}
