#include "ScriptedServer.h"

#include <QMap>
#include <QTimer>

namespace {
const QByteArray kVideo = "/api/videos/vid1";
} // namespace

ScriptedServer::ScriptedServer()
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            m_buffers.insert(socket, {});
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                m_buffers.remove(socket);
                socket->deleteLater();
            });
        }
    });
    m_server.listen(QHostAddress::LocalHost, 0);
}

ScriptedServer::~ScriptedServer()
{
    for (QTcpSocket *socket : m_buffers.keys())
        socket->disconnect(this);
}

QUrl ScriptedServer::origin() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()));
}

void ScriptedServer::onReadyRead(QTcpSocket *socket)
{
    QByteArray &buffer = m_buffers[socket];
    buffer += socket->readAll();
    for (RecordedRequest request; takeRequest(buffer, request);) {
        requests.append(request);
        const ScriptedReply reply = (script ? script(request) : std::nullopt).value_or(serviceReply(request));
        if (reply.kind == ScriptedReply::Kind::hold)
            m_held.insert(request.path, Held{socket, request});
        else if (reply.delayMs > 0)
            QTimer::singleShot(reply.delayMs, this,
                               [this, socket = QPointer(socket), reply] { answer(socket, reply); });
        else
            answer(socket, reply);
        if (!m_buffers.contains(socket))
            return;
    }
}

void ScriptedServer::answer(QTcpSocket *socket, const ScriptedReply &reply)
{
    if (!socket || socket->state() != QAbstractSocket::ConnectedState)
        return;
    if (reply.kind == ScriptedReply::Kind::drop) {
        socket->abort();
    } else if (reply.kind == ScriptedReply::Kind::raw) {
        socket->write(reply.body);
        socket->flush();
        socket->disconnectFromHost();
    } else {
        socket->write("HTTP/1.1 " + QByteArray::number(reply.status) +
                      " Status\r\nContent-Type: application/json\r\nContent-Length: " +
                      QByteArray::number(reply.body.size()) + "\r\n\r\n" + reply.body);
    }
}

void ScriptedServer::release(const QByteArray &path)
{
    const Held held = m_held.take(path);
    answer(held.socket, serviceReply(held.request));
}

QList<RecordedRequest> ScriptedServer::requestsTo(const QByteArray &method, const QByteArray &pathPrefix) const
{
    QList<RecordedRequest> found;
    for (const RecordedRequest &r : requests)
        if (r.method == method && r.path.startsWith(pathPrefix))
            found.append(r);
    return found;
}

QByteArray ScriptedServer::uploadedBytes() const
{
    QMap<int, QByteArray> parts; // the last attempt of each part wins
    for (const RecordedRequest &r : requestsTo("PUT", kVideo)) {
        if (r.path == kVideo)
            return r.body;
        parts.insert(r.path.mid(kVideo.size() + 7).toInt(), r.body);
    }
    QByteArray joined;
    for (const QByteArray &part : parts)
        joined += part;
    return joined;
}

ScriptedReply ScriptedServer::serviceReply(const RecordedRequest &request) const
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
