#pragma once

#include <QByteArray>
#include <QList>
#include <QNetworkReply>
#include <QObject>
#include <QString>
#include <QUrl>

#include <QCoroTask>

#include <chrono>
#include <functional>
#include <memory>

class FileSlice;
class UploadCancellation;

// One HTTP request for HttpTransfers.
struct HttpCall {
    QByteArray method;
    QUrl url;
    QList<QByteArray> headers; // "Name: value"
    QByteArray body;
    // When set, the body is read from this slice as it is sent instead.
    std::shared_ptr<const FileSlice> fileBody;
    bool hasBody = false;
    // Aborted when no byte moves for this long, and when it runs longer.
    std::chrono::milliseconds idleTimeout{std::chrono::seconds(60)};
    std::chrono::milliseconds totalTimeout{std::chrono::seconds(3600)};
    // Cumulative body bytes sent; called on the transfer thread.
    std::function<void(qint64 sentBytes)> onSend;
};

// How a call ended: an HTTP status with its body, or a transport failure.
struct HttpOutcome {
    // unreadable: the file body could not be read.
    enum class End { replied = 1, failed, idle, overran, cancelled, unreadable };
    End end = End::failed;
    int status = 0;
    QByteArray body;
    QNetworkReply::NetworkError error = QNetworkReply::UnknownNetworkError;
    QString errorText;
};

// HTTP/1.1 transfers on a thread of their own (libcurl's multi interface):
// bodies go from memory straight to the socket, never through the owning
// thread's event loop. Several calls run at once, each on its own connection
// to the same origin. Redirects are followed within the origin only. Made and
// awaited on one thread; outcomes come back on it.
class HttpTransfers final : public QObject {
    Q_OBJECT
public:
    explicit HttpTransfers(QObject *parent = nullptr);
    ~HttpTransfers() override;

    // Runs the call; `cancel` (optional) aborts it and ends it as cancelled.
    QCoro::Task<HttpOutcome> perform(HttpCall call, UploadCancellation *cancel = nullptr);

private:
    class Worker;
    std::unique_ptr<Worker> m_worker;
};
