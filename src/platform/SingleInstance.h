#pragma once

#include <QCoroTask>
#include <QJsonObject>
#include <QList>
#include <QLocalServer>
#include <QLocalSocket>
#include <QObject>
#include <QUrl>

// One running app per user. A later launch hands its command URLs to the
// running one over a local socket that only this user can open, then exits.
//
// The exchange: "MIVRA1\n", one URL per line, an empty line; the running
// app answers "ok\n" once it has taken them. No URLs means a plain relaunch.
//
// The reply channel: "MIVRA2\n", then one JSON object per line each way. The
// command line's first line is the request ({"command": "record", ...}); its
// later lines steer it ({"command": "stop"}). The app answers with lines such
// as {"progress": text} and ends with {"exit": status, "out": text, "error":
// text}. An app that does not know a version answers "unsupported\n".
namespace SingleInstance {
// In the user's runtime folder, which only the user can enter.
QString defaultSocketPath();

// Whether an app listens at `path` now (answers at once, no event loop).
bool someoneListens(const QString &path);

enum class HandOver { delivered, noInstance, noAnswer };
// Delivers `urls` to the running instance, if there is one.
QCoro::Task<HandOver> handOver(QString socketPath, QList<QUrl> urls, int timeoutMs = 3000);
} // namespace SingleInstance

// One request on the reply channel, as the running app sees it. Lives as
// long as its connection.
class InstanceRequest : public QObject {
    Q_OBJECT

public:
    InstanceRequest(QLocalSocket *socket, QJsonObject body);
    const QJsonObject &body() const { return m_body; }
    QString command() const { return m_body.value(QStringLiteral("command")).toString(); }
    void reply(const QJsonObject &line);
    // The last line; the connection closes after it.
    void finish(int status, const QString &out = QString(), const QString &error = QString());
    bool finished() const { return m_finished; }

Q_SIGNALS:
    // A later line from the command line.
    void lineReceived(const QJsonObject &line);
    // The command line went away before the end.
    void abandoned();

private:
    QLocalSocket *m_socket;
    QJsonObject m_body;
    bool m_finished = false;
};

// The command line's end of the reply channel.
class InstanceClient : public QObject {
    Q_OBJECT

public:
    explicit InstanceClient(QObject *parent = nullptr);
    ~InstanceClient() override;
    // Connects and sends the request; false when no app listens.
    bool start(const QString &socketPath, const QJsonObject &request, int timeoutMs = 3000);
    void send(const QJsonObject &line);

Q_SIGNALS:
    void message(const QJsonObject &line);
    // The app is older and does not know the reply channel.
    void unsupported();
    // The conversation is over (after the last message, or the app went away).
    void closed();

private:
    void readLines();
    QLocalSocket *m_socket = nullptr;
    QByteArray m_buffer;
    bool m_heard = false;
    bool m_done = false;
};

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
    // A request on the reply channel; it answers through the object.
    void requestReceived(InstanceRequest *request);

private:
    void accept();
    void read(QLocalSocket *socket);

    QString m_socketPath;
    QLocalServer m_server;
};
