#include "ScriptedServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QTimer>

ScriptedServer::ScriptedServer(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &ScriptedServer::onNewConnection);
    m_server.listen(QHostAddress::LocalHost, 0);
}

ScriptedServer::~ScriptedServer()
{
    for (auto it = m_buffers.keyBegin(); it != m_buffers.keyEnd(); ++it)
        (*it)->disconnect(this);
}

QUrl ScriptedServer::origin() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()));
}

void ScriptedServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        m_buffers.insert(socket, {});
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_buffers.remove(socket);
            socket->deleteLater();
        });
    }
}

void ScriptedServer::onReadyRead(QTcpSocket *socket)
{
    QByteArray &buffer = m_buffers[socket];
    buffer += socket->readAll();
    for (RecordedRequest request; takeRequest(buffer, request);) {
        request.index = int(requests.size());
        requests.append(request);
        ++m_pending;
        m_peakPending = qMax(m_peakPending, m_pending);
        handle(socket, request);
        Q_EMIT requestArrived();
        if (!m_buffers.contains(socket))
            return;
    }
}

void ScriptedServer::handle(QTcpSocket *socket, RecordedRequest request)
{
    std::optional<ScriptedReply> reply;
    if (script)
        reply = script(request);
    if (!reply)
        reply = serviceReply(request);
    if (reply->kind == ScriptedReply::Kind::hold) {
        m_held.append(Held{socket, request});
        return;
    }
    if (reply->delayMs > 0) {
        QTimer::singleShot(reply->delayMs, this,
                           [this, socket = QPointer<QTcpSocket>(socket), r = *reply] { answer(socket, r); });
        return;
    }
    answer(socket, *reply);
}

void ScriptedServer::answer(QTcpSocket *socket, const ScriptedReply &reply)
{
    --m_pending;
    if (!socket || socket->state() != QAbstractSocket::ConnectedState)
        return;
    switch (reply.kind) {
    case ScriptedReply::Kind::drop:
        socket->abort();
        return;
    case ScriptedReply::Kind::raw:
        socket->write(reply.rawBytes);
        socket->flush();
        socket->disconnectFromHost();
        return;
    case ScriptedReply::Kind::respond:
    case ScriptedReply::Kind::hold:
        write(socket, reply.status, reply.body);
        return;
    }
}

void ScriptedServer::write(QTcpSocket *socket, int status, const QByteArray &body)
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + " Status\r\n";
    head += "Content-Type: application/json\r\n";
    head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n";
    socket->write(head + body);
}

QList<QByteArray> ScriptedServer::heldPaths() const
{
    QList<QByteArray> paths;
    for (const Held &h : m_held)
        paths.append(h.request.path);
    return paths;
}

bool ScriptedServer::release(const QByteArray &path)
{
    for (qsizetype i = 0; i < m_held.size(); ++i) {
        if (m_held[i].request.path == path) {
            const Held held = m_held.takeAt(i);
            answer(held.socket, serviceReply(held.request));
            return true;
        }
    }
    return false;
}

void ScriptedServer::releaseAll()
{
    while (!m_held.isEmpty())
        release(m_held.first().request.path);
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
    const QByteArray whole = "/api/videos/" + videoId;
    QMap<int, QByteArray> parts;
    for (const RecordedRequest &r : requests) {
        if (r.method != "PUT")
            continue;
        if (r.path == whole)
            return r.body;
        if (r.path.startsWith(whole + "/parts/"))
            parts.insert(r.path.mid(whole.size() + 7).toInt(), r.body); // the last attempt wins
    }
    QByteArray joined;
    for (const QByteArray &p : parts)
        joined += p;
    return joined;
}

ScriptedReply ScriptedServer::serviceReply(const RecordedRequest &request) const
{
    const QByteArray video = "/api/videos/" + videoId;
    const QString id = QString::fromLatin1(videoId);
    auto json = [](const QJsonObject &o) { return QJsonDocument(o).toJson(QJsonDocument::Compact); };
    const QJsonObject info{{QStringLiteral("id"), id},
                           {QStringLiteral("shareUrl"), origin().toString() + QStringLiteral("/v/") + id},
                           {QStringLiteral("expiresAt"), QJsonValue(qint64(4102444800000))}};
    if (request.method == "POST" && request.path == "/api/videos")
        return ScriptedReply::json(200, json(QJsonObject{{QStringLiteral("id"), id},
                                                         {QStringLiteral("partSize"), QJsonValue(partSize)},
                                                         {QStringLiteral("shareUrl"), info.value("shareUrl")},
                                                         {QStringLiteral("expiresAt"), info.value("expiresAt")}}));
    if (request.method == "PUT" && request.path.startsWith(video + "/parts/")) {
        const int n = request.path.mid(video.size() + 7).toInt();
        return ScriptedReply::json(200, json(QJsonObject{{QStringLiteral("partNumber"), n},
                                                         {QStringLiteral("etag"), QStringLiteral("etag-%1").arg(n)}}));
    }
    if ((request.method == "PUT" && request.path == video) ||
        (request.method == "POST" && request.path == video + "/complete"))
        return ScriptedReply::json(200, json(info));
    if (request.method == "GET" && request.path == "/api/videos")
        return ScriptedReply::json(200, R"({"videos":[]})");
    if (request.method == "DELETE")
        return ScriptedReply::json(204, {});
    if (request.method == "POST" && request.path.endsWith("/title")) {
        const QJsonObject sent = QJsonDocument::fromJson(request.body).object();
        return ScriptedReply::json(
            200, json(QJsonObject{{QStringLiteral("id"), id}, {QStringLiteral("title"), sent.value("title")}}));
    }
    if (request.method == "POST" && request.path.endsWith("/expiry"))
        return ScriptedReply::json(200, json(QJsonObject{{QStringLiteral("id"), id},
                                                         {QStringLiteral("expiresAt"), QJsonValue(qint64(42000))}}));
    return ScriptedReply::json(404, R"({"error":"not found"})");
}
