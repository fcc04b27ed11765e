#pragma once

// A tiny HTTP/1.0 file server on 127.0.0.1 for update feeds and downloads.
// A file may announce more bytes than it sends (a download cut short).

#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

class FeedServer final : public QObject {
public:
    struct File {
        QByteArray body;
        qint64 announcedLength = -1; // -1: the body's size
    };

    FeedServer()
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { answer(socket); });
            }
        });
    }

    QUrl url(const QString &path) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
    }

    QHash<QByteArray, File> files;
    int requests = 0;

private:
    void answer(QTcpSocket *socket)
    {
        const QByteArray request = socket->peek(socket->bytesAvailable());
        if (!request.contains("\r\n\r\n"))
            return;
        ++requests;
        const QByteArray path = request.split(' ').value(1);
        socket->readAll();
        const auto it = files.constFind(path);
        const File file = it == files.cend() ? File{"not here"} : *it;
        const qint64 length = file.announcedLength >= 0 ? file.announcedLength : file.body.size();
        socket->write(QByteArray(it == files.cend() ? "HTTP/1.0 404 X" : "HTTP/1.0 200 X") + "\r\nContent-Length: " +
                      QByteArray::number(length) + "\r\nConnection: close\r\n\r\n" + file.body);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
};
