#pragma once

#include "app/RecentLink.h"
#include "base/Clock.h"
#include "base/Lifetime.h"

#include <QCoroTask>
#include <QHash>
#include <QObject>

#include <functional>

class PreferenceStore;
class VideoService;

// The recent links: loaded at start (expired ones pruned), kept newest first,
// written back whole after every change, and kept in line with the service.
class LinkLibrary : public QObject {
    Q_OBJECT

public:
    static constexpr qsizetype kMaxLinks = 20;
    // Preview links expire 29.5 days after start.
    static constexpr qint64 kPreviewLifetimeSeconds = 2548800;

    // `removeThumbnail` deletes a link's cached thumbnail (failures ignored).
    LinkLibrary(PreferenceStore &store, VideoService &service, std::function<void(const QString &id)> removeThumbnail,
                QString serviceOrigin, NowFunction now = systemNow, QObject *parent = nullptr);

    const QList<RecentLink> &recent() const { return m_recent; }
    // Set once at start from MIVRA_PREVIEW_LINKS; nothing is stored or fetched then.
    bool previewLinks() const { return m_previewLinks; }

    // A new upload goes to the front; the list keeps its first 20.
    void addNew(const RecentLink &link);

    QCoro::Task<> refreshFromServer();
    QCoro::Task<> deleteLink(RecentLink link);
    QCoro::Task<> rename(RecentLink link, QString title);
    QCoro::Task<> setLifetime(RecentLink link, Lifetime lifetime);

    // Links built from a MIVRA_PREVIEW_LINKS value ("id:title,id2").
    static QList<RecentLink> previewLinksFrom(const QString &value, const QString &serviceOrigin, const QDateTime &now);

Q_SIGNALS:
    void recentChanged();
    // A link edit failed; the text is the complete message for lastError.
    void failed(const QString &lastErrorText);

private:
    void load();
    void saveRecent();
    void setRecent(QList<RecentLink> links);

    PreferenceStore &m_store;
    VideoService &m_service;
    std::function<void(const QString &)> m_removeThumbnail;
    QString m_serviceOrigin;
    NowFunction m_now;
    bool m_previewLinks = false;
    QList<RecentLink> m_recent;
    // Counts new links; a refresh keeps those added after it asked the service.
    quint64 m_additions = 0;
    QHash<QString, quint64> m_addedAt;
};
