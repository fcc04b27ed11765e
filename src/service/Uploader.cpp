#include "service/Uploader.h"

#include "base/Diag.h"
#include "service/Reachability.h"
#include "service/ServiceErrors.h"
#include "service/WireBodies.h"

#include <QNetworkReply>
#include <QTimer>

#include <QCoroNetworkReply>

namespace {

// Replies are always deleted, whichever way the coroutine leaves.
struct ReplyDeleter {
    void operator()(QNetworkReply *reply) const { reply->deleteLater(); }
};

bool isTransportFailure(QNetworkReply::NetworkError error)
{
    // Qt numbers connection-level errors 1-99 and proxy errors 101-199; the
    // 200s and up describe an HTTP reply that did arrive.
    const int code = int(error);
    return code > 0 && code < 200;
}

} // namespace

Uploader::Uploader(QUrl baseUrl, PreferenceStore &preferences, UploaderOptions options, QObject *parent)
    : QObject(parent), m_baseUrl(std::move(baseUrl)), m_timings(std::move(options.timings)),
      m_log(std::move(options.log)), m_token(preferences), m_requests(m_baseUrl, m_token, m_timings.requestTimeout),
      m_network(new QNetworkAccessManager(this)), m_reachability(options.reachability)
{
    if (!m_log)
        m_log = &Diag::log;
    if (!m_reachability)
        m_reachability = new SystemReachability(m_baseUrl, this);
    // The design's session also has a 120 s idle limit; the 60 s per-request
    // idle limit set by RequestFactory is always the tighter one.
    m_network->setAutoDeleteReplies(false);
}

Uploader::~Uploader() = default;

void Uploader::log(const QString &line) const
{
    m_log(line);
}

QCoro::Task<VideoList> Uploader::listVideos()
{
    // The service hands the list out in pages; all of them make the list.
    VideoList all;
    QString path = QStringLiteral("/api/videos");
    for (int page = 0; page < kMaxListPages; ++page) {
        VideoList list = co_await get<VideoList>(std::move(path));
        all.videos.append(list.videos);
        if (!list.next || list.next->isEmpty())
            co_return all;
        path = QStringLiteral("/api/videos?after=") + QString::fromLatin1(QUrl::toPercentEncoding(*list.next));
    }
    throw UploadError::badResponse(); // a service that never ends its pages
}

QCoro::Task<> Uploader::deleteVideo(QString id)
{
    // 404: the video is already gone, which is what the caller wanted.
    Exchange ex{"DELETE", QStringLiteral("/api/videos/") + RequestFactory::segment(id), {}, false, {}, {}, {}, false,
                true};
    co_await exchange(std::move(ex));
}

QCoro::Task<TitleResponse> Uploader::rename(QString id, QString title)
{
    QString path = QStringLiteral("/api/videos/") + RequestFactory::segment(id) + QStringLiteral("/title");
    QByteArray body = WireBodies::title(title);
    QString contentType = QStringLiteral("application/json");
    co_return co_await request<TitleResponse>("POST", std::move(path), std::move(body), std::move(contentType));
}

QCoro::Task<KeepResponse> Uploader::setExpiry(QString id, Lifetime lifetime)
{
    QString path = QStringLiteral("/api/videos/") + RequestFactory::segment(id) + QStringLiteral("/expiry");
    QByteArray body = WireBodies::expiry(lifetime);
    QString contentType = QStringLiteral("application/json");
    co_return co_await request<KeepResponse>("POST", std::move(path), std::move(body), std::move(contentType));
}

QCoro::Task<VideoInfo> Uploader::upload(QString filePath, QString title, std::optional<qint64> durationMs,
                                        std::optional<int> width, std::optional<int> height,
                                        std::optional<Lifetime> lifetime, UploadProgress progress)
{
    UploadJob job{std::move(filePath), std::move(title), durationMs, width, height, lifetime};
    co_return co_await uploadFile(std::move(job), std::move(progress));
}

QCoro::Task<> Uploader::waitForNetwork(std::shared_ptr<UploadCancellation> cancel)
{
    if (!m_reachability || !m_reachability->isOffline())
        co_return;
    log(QStringLiteral("upload: offline, waiting for the network"));
    Notifier wake;
    QTimer limit;
    limit.setSingleShot(true);
    bool timedOut = false;
    connect(&limit, &QTimer::timeout, &wake, [&] {
        timedOut = true;
        wake.notify();
    });
    connect(m_reachability.data(), &Reachability::changed, &wake, &Notifier::notify);
    if (cancel)
        connect(cancel.get(), &UploadCancellation::cancelled, &wake, &Notifier::notify);
    limit.start(m_timings.resourceTimeout);
    while (m_reachability && m_reachability->isOffline() && !timedOut && !(cancel && cancel->isCancelled()))
        co_await wake.wait();
    if (cancel && cancel->isCancelled())
        throw TransportError::cancelled();
    if (timedOut)
        throw TransportError(QNetworkReply::TemporaryNetworkFailureError,
                             QStringLiteral("The network is not reachable"));
}

QNetworkReply *Uploader::send(const Exchange &ex)
{
    const QNetworkRequest request = m_requests.make(ex.path, ex.contentType, ex.freshRead);
    if (ex.method == "GET" && !ex.hasBody)
        return m_network->get(request);
    if (ex.method == "DELETE" && !ex.hasBody)
        return m_network->deleteResource(request);
    if (ex.method == "PUT")
        return m_network->put(request, ex.body);
    if (ex.method == "POST")
        return m_network->post(request, ex.body);
    return m_network->sendCustomRequest(request, ex.method, ex.body);
}

QCoro::Task<QByteArray> Uploader::exchange(Exchange ex)
{
    co_await waitForNetwork(ex.cancel);
    if (ex.cancel && ex.cancel->isCancelled())
        throw TransportError::cancelled();

    std::unique_ptr<QNetworkReply, ReplyDeleter> reply(send(ex));
    QNetworkReply *raw = reply.get();
    if (ex.onSend) {
        const qint64 bodyBytes = ex.body.size();
        connect(raw, &QNetworkReply::uploadProgress, raw, [onSend = ex.onSend, bodyBytes](qint64 sent, qint64) {
            // Qt reports (0, 0) once the body is gone; running totals only.
            if (sent > 0)
                onSend(qMin(sent, bodyBytes));
        });
    }
    bool cancelled = false;
    QMetaObject::Connection onCancel;
    if (ex.cancel)
        onCancel = connect(ex.cancel.get(), &UploadCancellation::cancelled, raw, [raw, &cancelled] {
            cancelled = true;
            raw->abort();
        });
    bool overran = false;
    QTimer resourceLimit;
    resourceLimit.setSingleShot(true);
    connect(&resourceLimit, &QTimer::timeout, raw, [raw, &overran] {
        overran = true;
        raw->abort();
    });
    resourceLimit.start(m_timings.resourceTimeout);

    co_await raw;
    // The reply outlives this frame until deleteLater runs: nothing may reach
    // the frame's locals, nor report progress after the end, from then on.
    resourceLimit.stop();
    disconnect(onCancel);
    raw->disconnect();

    const QNetworkReply::NetworkError error = raw->error();
    const QString url = raw->url().toString(QUrl::RemoveQuery);
    if (isTransportFailure(error)) {
        // Qt ends a request that ran into our own limits with "canceled";
        // say what really happened.
        if (error == QNetworkReply::OperationCanceledError && overran)
            throw TransportError(QNetworkReply::TimeoutError, QStringLiteral("The request took too long"), url);
        if (error == QNetworkReply::OperationCanceledError && !cancelled)
            throw TransportError(QNetworkReply::TimeoutError, QStringLiteral("The server stopped answering"), url);
        throw TransportError(error, raw->errorString(), url);
    }
    const QVariant status = raw->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        throw UploadError::badResponse();
    const int code = status.toInt();
    if ((code >= 200 && code <= 299) || (ex.notFoundIsSuccess && code == 404)) {
        if (ex.notFoundIsSuccess)
            co_return QByteArray();
        co_return raw->readAll();
    }
    throw UploadError::http(code, raw->read(UploadError::kExcerptBytes));
}
