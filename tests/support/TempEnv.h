#pragma once

#include <QByteArray>
#include <QTemporaryDir>

// A private XDG home for one test: config, data, state and videos live in a
// fresh folder, and the previous variables come back at the end.
class TempXdgHome {
public:
    TempXdgHome();
    ~TempXdgHome();
    TempXdgHome(const TempXdgHome &) = delete;
    TempXdgHome &operator=(const TempXdgHome &) = delete;

    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    QList<QPair<QByteArray, QByteArray>> m_saved;
};
