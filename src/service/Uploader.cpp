#include "service/Uploader.h"

#include "base/Diag.h"
#include "service/FileSlices.h"
#include "service/Reachability.h"
#include "service/ServiceErrors.h"
#include "service/WireBodies.h"

#include <QTimer>

Uploader::Uploader(QUrl baseUrl, PreferenceStore &preferences, UploaderOptions options, QObject *parent)
    : QObject(parent), m_baseUrl(std::move(baseUrl)), m_timings(std::move(options.timings)),
      m_log(std::move(options.log)), m_token(preferences), m_requests(m_baseUrl, m_token, m_timings.requestTimeout),
      m_transfers(new HttpTransfers(this)), m_reachability(options.reachability)
{
    if (!m_log)
        m_log = &Diag::log;
    if (!m_reachability)
        m_reachability = new SystemReachability(m_baseUrl, this);
    // The design's session also has a 120 s idle limit; the 60 s per-request
    // idle limit is always the tighter one.
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

HttpCall Uploader::call(const Exchange &ex)
{
    HttpCall call;
    call.method = ex.method;
    call.url = m_requests.url(ex.path);
    call.headers = {QByteArrayLiteral("User-Agent: Mivra Video/" MIVRA_VERSION),
                    QByteArray(RequestFactory::kTokenHeader) + ": " + m_token.value().toLatin1()};
    if (!ex.contentType.isEmpty())
        call.headers.append("Content-Type: " + ex.contentType.toLatin1());
    if (ex.freshRead)
        call.headers.append(QByteArrayLiteral("Cache-Control: no-cache"));
    call.body = ex.body;
    call.fileBody = ex.fileBody;
    call.hasBody = ex.hasBody;
    call.idleTimeout = m_timings.requestTimeout;
    call.totalTimeout = m_timings.resourceTimeout;
    if (ex.onSend)
        call.onSend = [onSend = ex.onSend, bodyBytes = ex.fileBody ? ex.fileBody->length() : qint64(ex.body.size())](
                          qint64 sent) { onSend(qMin(sent, bodyBytes)); };
    return call;
}

QCoro::Task<QByteArray> Uploader::exchange(Exchange ex)
{
    co_await waitForNetwork(ex.cancel);
    if (ex.cancel && ex.cancel->isCancelled())
        throw TransportError::cancelled();

    HttpCall request = call(ex);
    const QString url = request.url.toString(QUrl::RemoveQuery);
    const HttpOutcome outcome = co_await m_transfers->perform(std::move(request), ex.cancel.get());
    switch (outcome.end) {
    case HttpOutcome::End::cancelled:
        throw TransportError::cancelled();
    case HttpOutcome::End::idle:
        throw TransportError(QNetworkReply::TimeoutError, QStringLiteral("The server stopped answering"), url);
    case HttpOutcome::End::overran:
        throw TransportError(QNetworkReply::TimeoutError, QStringLiteral("The request took too long"), url);
    case HttpOutcome::End::unreadable:
        throw UploadError::read();
    case HttpOutcome::End::failed:
        throw TransportError(outcome.error, outcome.errorText, url);
    case HttpOutcome::End::replied:
        break;
    }
    const int code = outcome.status;
    if ((code >= 200 && code <= 299) || (ex.notFoundIsSuccess && code == 404)) {
        if (ex.notFoundIsSuccess)
            co_return QByteArray();
        co_return outcome.body;
    }
    throw UploadError::http(code, outcome.body.left(UploadError::kExcerptBytes));
}
