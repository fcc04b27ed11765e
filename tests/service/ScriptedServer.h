#pragma once

#include "RangeFileServer.h"

#include <QMap>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

using RecordedRequest = ServedRequest;

// What the server does with a request.
struct ScriptedReply {
    enum class Kind { respond = 1, drop, hold, raw };
    Kind kind = Kind::respond;
    int status = 200;
    QByteArray body; // for Kind::raw: written as is, then the connection closes
    int delayMs = 0;

    static ScriptedReply json(int status, QByteArray body) { return {Kind::respond, status, std::move(body)}; }
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
    ScriptedServer()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                auto buffer = std::make_shared<QByteArray>();
                connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] { onReadyRead(socket, *buffer); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
        m_server.listen(QHostAddress::LocalHost, 0);
    }

    QUrl origin() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort())); }

    std::function<std::optional<ScriptedReply>(const RecordedRequest &)> script;
    qint64 partSize = 10;
    QList<RecordedRequest> requests;

    qsizetype held() const { return m_held.size(); }
    // Answers the held request with this path (default service reply).
    void release(const QByteArray &path)
    {
        const Held held = m_held.take(path);
        answer(held.socket, serviceReply(held.request));
    }

    QList<RecordedRequest> requestsTo(const QByteArray &method, const QByteArray &pathPrefix) const
    {
        QList<RecordedRequest> found;
        for (const RecordedRequest &r : requests)
            if (r.method == method && r.path.startsWith(pathPrefix))
                found.append(r);
        return found;
    }

    // The file as the client sent it: the single PUT's body, or the parts
    // joined in part-number order (the last attempt of each part wins).
    QByteArray uploadedBytes() const
    {
        QMap<int, QByteArray> parts;
        for (const RecordedRequest &r : requestsTo("PUT", kVideo)) {
            if (r.path == kVideo)
                return r.body;
            parts.insert(r.path.mid(kVideo.size() + 7).toInt(), r.body);
        }
        return parts.values().join();
    }

private:
    struct Held {
        QPointer<QTcpSocket> socket;
        RecordedRequest request;
    };
    static inline const QByteArray kVideo = "/api/videos/vid1";

    void onReadyRead(QTcpSocket *socket, QByteArray &buffer)
    {
        buffer += socket->readAll();
        for (RecordedRequest request;
             socket->state() == QAbstractSocket::ConnectedState && takeRequest(buffer, request);) {
            requests.append(request);
            const ScriptedReply reply = (script ? script(request) : std::nullopt).value_or(serviceReply(request));
            if (reply.kind == ScriptedReply::Kind::hold)
                m_held.insert(request.path, Held{socket, request});
            else
                QTimer::singleShot(reply.delayMs, this,
                                   [this, socket = QPointer(socket), reply] { answer(socket, reply); });
        }
    }

    void answer(QTcpSocket *socket, const ScriptedReply &reply)
    {
        if (!socket || socket->state() != QAbstractSocket::ConnectedState)
            return;
        if (reply.kind == ScriptedReply::Kind::drop)
            return socket->abort();
        if (reply.kind == ScriptedReply::Kind::raw) {
            socket->write(reply.body);
            socket->flush();
            return socket->disconnectFromHost();
        }
        socket->write("HTTP/1.1 " + QByteArray::number(reply.status) +
                      " Status\r\nContent-Type: application/json\r\nContent-Length: " +
                      QByteArray::number(reply.body.size()) + "\r\n\r\n" + reply.body);
    }

    ScriptedReply serviceReply(const RecordedRequest &request) const
    {
        const QByteArray &method = request.method, &path = request.path;
        const QByteArray info =
            R"("id":"vid1","shareUrl":")" + origin().toEncoded() + R"(/v/vid1","expiresAt":4102444800000)";
        if (method == "POST" && path == "/api/videos")
            return ScriptedReply::json(200, "{" + info + R"(,"partSize":)" + QByteArray::number(partSize) + "}");
        if (method == "PUT" && path.startsWith(kVideo + "/parts/")) {
            const QByteArray n = path.mid(kVideo.size() + 7);
            return ScriptedReply::json(200, R"({"partNumber":)" + n + R"(,"etag":"etag-)" + n + R"("})");
        }
        if ((method == "PUT" && path == kVideo) || (method == "POST" && path == kVideo + "/complete"))
            return ScriptedReply::json(200, "{" + info + "}");
        if (method == "GET" && path == "/api/videos")
            return ScriptedReply::json(200, R"({"videos":[]})");
        if (method == "DELETE")
            return ScriptedReply::json(204, {});
        if (method == "POST" && path.endsWith("/title"))
            return ScriptedReply::json(200, R"({"id":"vid1","title":"Renamed"})");
        if (method == "POST" && path.endsWith("/expiry"))
            return ScriptedReply::json(200, R"({"id":"vid1","expiresAt":42000})");
        return ScriptedReply::json(404, R"({"error":"not found"})");
    }

    QHash<QByteArray, Held> m_held; // by path
    QTcpServer m_server;            // last: its sockets go before what they use
};
