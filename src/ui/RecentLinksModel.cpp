#include "ui/RecentLinksModel.h"

#include "app/AppState.h"
#include "app/ExpiryText.h"

RecentLinksModel::RecentLinksModel(AppState &state, NowFunction now, QObject *parent)
    : QAbstractListModel(parent), m_state(state), m_now(std::move(now))
{
    m_count = rowCount();
    // The list has already changed when this arrives: the count kept here tells.
    connect(&m_state, &AppState::recentChanged, this, [this] {
        beginResetModel();
        endResetModel();
        const int before = std::exchange(m_count, rowCount());
        if (before != m_count)
            Q_EMIT countChanged();
    });
}

int RecentLinksModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_state.recent().size());
}

QVariant RecentLinksModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const RecentLink &link = m_state.recent().at(index.row());
    switch (role) {
    case IdRole:
        return link.id;
    case TitleRole:
        return link.title;
    case ShareUrlRole:
        return link.shareUrl;
    case ExpiryTextRole:
        return ExpiryText::text(link.expiresAt, m_now());
    default:
        return {};
    }
}

QHash<int, QByteArray> RecentLinksModel::roleNames() const
{
    return {{IdRole, "linkId"}, {TitleRole, "title"}, {ShareUrlRole, "shareUrl"}, {ExpiryTextRole, "expiryText"}};
}

std::optional<RecentLink> RecentLinksModel::link(const QString &id) const
{
    for (const RecentLink &link : m_state.recent()) {
        if (link.id == id)
            return link;
    }
    return std::nullopt;
}

void RecentLinksModel::refreshTexts()
{
    if (rowCount() > 0)
        Q_EMIT dataChanged(index(0), index(rowCount() - 1), {ExpiryTextRole});
}
