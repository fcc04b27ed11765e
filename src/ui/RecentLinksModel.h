#pragma once

#include "app/RecentLink.h"
#include "base/Clock.h"

#include <QAbstractListModel>

class AppState;

// The recent links as rows for the main window. Expiry texts are worked out
// each time the list changes or the window asks (when it is shown again).
class RecentLinksModel : public QAbstractListModel {
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    enum Role { IdRole = Qt::UserRole + 1, TitleRole, ShareUrlRole, ExpiryTextRole };

    RecentLinksModel(AppState &state, NowFunction now = systemNow, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;
    int count() const { return rowCount(); }

    // The link with this id, if it is still in the list.
    std::optional<RecentLink> link(const QString &id) const;
    Q_INVOKABLE void refreshTexts();

Q_SIGNALS:
    void countChanged();

private:
    AppState &m_state;
    NowFunction m_now;
    int m_count = 0;
};
