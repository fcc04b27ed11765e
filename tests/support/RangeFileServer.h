#pragma once

// A plain HTTP/1.1 file server on 127.0.0.1 that answers byte ranges and
// counts what it was asked and what it sent: serve(path, file) publishes a
// file, requests() and bytesSent() report. It runs on a thread of its own,
// so a client may block the caller's thread while it reads. Its request
// reader is shared with the scripted service in tests/service.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <QString>
#include <QThread>
#include <QUrl>

class QTcpServer;

struct ServedRequest {
    QByteArray method;
    QByteArray path;
    QHash<QByteArray, QByteArray> headers; // names lower-cased
    QByteArray body;                       // Content-Length bytes

    QByteArray header(const QByteArray &name) const { return headers.value(name.toLower()); }
};

// Takes the first whole request (head and Content-Length body) off the front
// of `buffer`; false, leaving it as it is, while the request is incomplete.
bool takeRequest(QByteArray &buffer, ServedRequest &request);

class RangeFileServer {
    // The server's thread and the caller's share what follows the lock.
    template <typename F> auto locked(F f) const
    {
        const QMutexLocker lock(&m_mutex);
        return f();
    }

public:
    RangeFileServer();
    ~RangeFileServer();
    RangeFileServer(const RangeFileServer &) = delete;
    RangeFileServer &operator=(const RangeFileServer &) = delete;

    QUrl origin() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_port)); }
    // Answers GET `urlPath` (e.g. "/r/abc") with the bytes of `file`.
    void serve(const QByteArray &urlPath, const QString &file)
    {
        locked([&] { m_files.insert(urlPath, file); });
    }

    QList<ServedRequest> requests() const
    {
        return locked([&] { return m_requests; });
    }
    // Body bytes the kernel took from the server, over all requests.
    qint64 bytesSent() const
    {
        return locked([&] { return m_sent; });
    }
    void resetCounts()
    {
        locked([&] {
            m_requests.clear();
            m_sent = 0;
        });
    }

private:
    friend class RangeFileConnection;
    void record(const ServedRequest &request)
    {
        locked([&] { m_requests << request; });
    }
    void addSent(qint64 bytes)
    {
        locked([&] { m_sent += bytes; });
    }
    QString fileFor(const QByteArray &urlPath) const
    {
        return locked([&] { return m_files.value(urlPath); });
    }

    QThread m_thread;
    QObject m_context; // lives on m_thread
    QTcpServer *m_server = nullptr;
    quint16 m_port = 0;
    mutable QMutex m_mutex;
    QHash<QByteArray, QString> m_files;
    QList<ServedRequest> m_requests;
    qint64 m_sent = 0;
};
