#include "RangeFileServer.h"

#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>

// One connection: reads one request, then streams the asked range in small
// pieces, so a client that hangs up early is charged only what it took.
class RangeFileConnection final : public QObject {
public:
    RangeFileConnection(RangeFileServer &server, QTcpSocket *socket)
        : QObject(socket), m_server(server), m_socket(socket)
    {
        connect(socket, &QTcpSocket::readyRead, this, &RangeFileConnection::readRequest);
        connect(socket, &QTcpSocket::bytesWritten, this, &RangeFileConnection::written);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }

private:
    static constexpr qint64 kPiece = 64 * 1024;

    void readRequest()
    {
        m_head += m_socket->readAll();
        ServedRequest request;
        if (m_file || !takeRequest(m_head, request))
            return;
        m_server.record(request);
        answer(request);
    }

    void answer(const ServedRequest &request)
    {
        m_file = std::make_unique<QFile>(m_server.fileFor(request.path));
        const qint64 size = m_file->open(QIODevice::ReadOnly) ? m_file->size() : -1;
        const auto range = QRegularExpression(QStringLiteral("^bytes=(\\d+)-(\\d*)$"))
                               .match(QString::fromLatin1(request.headers.value("range")));
        const qint64 from = range.captured(1).toLongLong();
        const qint64 to = range.captured(2).isEmpty() ? size - 1 : qMin(size - 1, range.captured(2).toLongLong());
        const QByteArray sizeText = QByteArray::number(size);
        QByteArray head;
        if (size < 0 || (range.hasMatch() && from >= size)) {
            head = (size < 0 ? QByteArray("HTTP/1.1 404 Not Found")
                             : "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */" + sizeText) +
                   "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        } else {
            const QByteArray status = range.hasMatch()
                                          ? "206 Partial Content\r\nContent-Range: bytes " + QByteArray::number(from) +
                                                '-' + QByteArray::number(to) + '/' + sizeText
                                          : QByteArray("200 OK");
            head = "HTTP/1.1 " + status + "\r\nContent-Type: video/mp4\r\nAccept-Ranges: bytes\r\nContent-Length: " +
                   QByteArray::number(to - from + 1) + "\r\nConnection: close\r\n\r\n";
            m_file->seek(from);
            m_left = to - from + 1;
        }
        m_server.addSent(-head.size()); // only body bytes count
        m_socket->write(head);
    }

    // Tops the socket's buffer up to a piece; closes once all went out.
    void written(qint64 bytes)
    {
        m_server.addSent(bytes);
        while (m_left > 0 && m_socket->bytesToWrite() < kPiece) {
            const QByteArray piece = m_file->read(qMin(kPiece, m_left));
            if (piece.isEmpty())
                break;
            m_left -= piece.size();
            m_socket->write(piece);
        }
        if (m_left == 0 && m_socket->bytesToWrite() == 0)
            m_socket->disconnectFromHost();
    }

    RangeFileServer &m_server;
    QTcpSocket *m_socket;
    QByteArray m_head;
    std::unique_ptr<QFile> m_file;
    qint64 m_left = 0;
};

bool takeRequest(QByteArray &buffer, ServedRequest &request)
{
    const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return false;
    const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    request = ServedRequest{first.value(0), first.value(1), {}, {}};
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
    }
    const qsizetype end = headEnd + 4 + request.header("content-length").toLongLong();
    if (buffer.size() < end)
        return false;
    request.body = buffer.mid(headEnd + 4, end - headEnd - 4);
    buffer.remove(0, end);
    return true;
}

RangeFileServer::RangeFileServer()
{
    m_context.moveToThread(&m_thread);
    m_thread.start();
    QMetaObject::invokeMethod(
        &m_context,
        [this] {
            m_server = new QTcpServer;
            QObject::connect(m_server, &QTcpServer::newConnection, m_server, [this] {
                while (QTcpSocket *socket = m_server->nextPendingConnection())
                    new RangeFileConnection(*this, socket);
            });
            m_server->listen(QHostAddress::LocalHost, 0);
            m_port = m_server->serverPort();
        },
        Qt::BlockingQueuedConnection);
}

RangeFileServer::~RangeFileServer()
{
    QMetaObject::invokeMethod(
        &m_context, [this] { delete m_server; }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}
