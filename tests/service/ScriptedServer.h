#pragma once

#include "RangeFileServer.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

#include <functional>
#include <optional>

// One request as the server saw it, numbered in arrival order.
struct RecordedRequest : ServedRequest {
    int index = 0;
};

// What the server does with a request.
struct ScriptedReply {
    enum class Kind { respond = 1, drop, hold, raw };
    Kind kind = Kind::respond;
    int status = 200;
    QByteArray body;
    int delayMs = 0;
    QByteArray rawBytes; // for Kind::raw: written as is, then the connection closes

    static ScriptedReply json(int status, QByteArray body, int delayMs = 0)
    {
        return ScriptedReply{Kind::respond, status, std::move(body), delayMs, {}};
    }
    static ScriptedReply drop() { return ScriptedReply{Kind::drop, 0, {}, 0, {}}; }
    // Kept unanswered until release(); then answered by the default service.
    static ScriptedReply hold() { return ScriptedReply{Kind::hold, 0, {}, 0, {}}; }
    static ScriptedReply raw(QByteArray bytes) { return ScriptedReply{Kind::raw, 0, {}, 0, std::move(bytes)}; }
};

// A small HTTP/1.1 server on 127.0.0.1 for the service client's tests. It
// records every request and answers through `script`; when the script
// returns nothing it behaves like a well-behaved sharing service with the
// given part size. Requests can be held and released to test concurrency.
class ScriptedServer final : public QObject {
    Q_OBJECT
public:
    explicit ScriptedServer(QObject *parent = nullptr);
    ~ScriptedServer() override;

    QUrl origin() const;

    std::function<std::optional<ScriptedReply>(const RecordedRequest &)> script;
    qint64 partSize = 10;
    QByteArray videoId = "vid1";

    QList<RecordedRequest> requests;
    // Requests received and not yet answered, now and at most.
    int pending() const { return m_pending; }
    int peakPending() const { return m_peakPending; }
    // Paths of held requests, in arrival order.
    QList<QByteArray> heldPaths() const;
    // Answers the held request with this path (default service reply).
    bool release(const QByteArray &path);
    void releaseAll();

    // The file as the client sent it: the single PUT's body, or the parts
    // joined in part-number order.
    QByteArray uploadedBytes() const;
    QList<RecordedRequest> requestsTo(const QByteArray &method, const QByteArray &pathPrefix) const;

    // The default answer to a request, as a sharing service would give it.
    ScriptedReply serviceReply(const RecordedRequest &request) const;

Q_SIGNALS:
    void requestArrived();

private:
    struct Connection {
        QPointer<QTcpSocket> socket;
        QByteArray buffer;
    };
    struct Held {
        QPointer<QTcpSocket> socket;
        RecordedRequest request;
    };

    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);
    void handle(QTcpSocket *socket, RecordedRequest request);
    void answer(QTcpSocket *socket, const ScriptedReply &reply);
    void write(QTcpSocket *socket, int status, const QByteArray &body);

    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_buffers;
    QList<Held> m_held;
    int m_pending = 0;
    int m_peakPending = 0;
};
