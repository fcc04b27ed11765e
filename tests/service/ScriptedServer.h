#pragma once

#include "RangeFileServer.h"

#include <QHash>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

#include <functional>
#include <optional>

using RecordedRequest = ServedRequest;

// What the server does with a request.
struct ScriptedReply {
    enum class Kind { respond = 1, drop, hold, raw };
    Kind kind = Kind::respond;
    int status = 200;
    QByteArray body; // for Kind::raw: written as is, then the connection closes
    int delayMs = 0;

    static ScriptedReply json(int status, QByteArray body, int delayMs = 0)
    {
        return {Kind::respond, status, std::move(body), delayMs};
    }
    static ScriptedReply drop() { return {Kind::drop}; }
    // Kept unanswered until release(); then answered by the default service.
    static ScriptedReply hold() { return {Kind::hold}; }
    static ScriptedReply raw(QByteArray bytes) { return {Kind::raw, 0, std::move(bytes)}; }
};

// A small HTTP/1.1 server on 127.0.0.1 for the service client's tests. It
// records every request and answers through `script`; when the script
// returns nothing it behaves like a well-behaved sharing service with the
// given part size. Requests can be held and released to test concurrency.
class ScriptedServer final : public QObject {
public:
    ScriptedServer();
    ~ScriptedServer() override;

    QUrl origin() const;

    std::function<std::optional<ScriptedReply>(const RecordedRequest &)> script;
    qint64 partSize = 10;

    QList<RecordedRequest> requests;
    qsizetype held() const { return m_held.size(); }
    // Answers the held request with this path (default service reply).
    void release(const QByteArray &path);

    // The file as the client sent it: the single PUT's body, or the parts
    // joined in part-number order.
    QByteArray uploadedBytes() const;
    QList<RecordedRequest> requestsTo(const QByteArray &method, const QByteArray &pathPrefix) const;

private:
    struct Held {
        QPointer<QTcpSocket> socket;
        RecordedRequest request;
    };

    void onReadyRead(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const ScriptedReply &reply);
    ScriptedReply serviceReply(const RecordedRequest &request) const;

    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_buffers;
    QHash<QByteArray, Held> m_held; // by path
};
