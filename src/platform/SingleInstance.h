#pragma once

#include <QCoroTask>
#include <QList>
#include <QLocalServer>
#include <QObject>
#include <QUrl>

// One running app per user. A later launch hands its command URLs to the
// running one over a local socket that only this user can open, then exits.
//
// The exchange: "MIVRA1\n", one URL per line, an empty line; the running
// app answers "ok\n" once it has taken them. No URLs means a plain relaunch.
namespace SingleInstance {
// In the user's runtime folder, which only the user can enter.
QString defaultSocketPath();

// Whether an app listens at `path` now (answers at once, no event loop).
bool someoneListens(const QString &path);

enum class HandOver { delivered, noInstance, noAnswer };
// Delivers `urls` to the running instance, if there is one.
QCoro::Task<HandOver> handOver(QString socketPath, QList<QUrl> urls, int timeoutMs = 3000);
} // namespace SingleInstance

class InstanceServer : public QObject {
    Q_OBJECT

public:
    // Caps what one launch may send; more is dropped unread.
    static constexpr qint64 kMaxMessageBytes = 64 * 1024;

    explicit InstanceServer(QString socketPath, QObject *parent = nullptr);
    ~InstanceServer() override;

    // Takes over a socket left by a crashed run; false when another instance
    // answers there or the socket cannot be made.
    bool listen();
    QString errorText() const { return m_server.errorString(); }

Q_SIGNALS:
    // In the order the later launch gave them; empty for a plain relaunch.
    void urlsReceived(const QList<QUrl> &urls);

private:
    void accept();

    QString m_socketPath;
    QLocalServer m_server;
};
