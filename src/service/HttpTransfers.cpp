#include "service/HttpTransfers.h"

#include "service/AsyncWaits.h"
#include "service/FileSlices.h"

#include <curl/curl.h>

#include <algorithm>
#include <coroutine>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Replies are JSON records; anything this large is not one.
constexpr qsizetype kMaxReplyBytes = 64 * 1024 * 1024;
constexpr int kMaxRedirects = 20;
// Larger than curl's 64 KiB default: fewer read callbacks and writes per part.
constexpr long kUploadBufferBytes = 512 * 1024;
// The loop wakes at least this often while transfers run, to check deadlines.
constexpr auto kLongestPoll = std::chrono::milliseconds(1000);

// Filled on the transfer thread, read on the owner's thread after the post.
struct Pending {
    std::optional<HttpOutcome> outcome;
    std::coroutine_handle<> waiter;
};

struct OutcomeAwaiter {
    std::shared_ptr<Pending> pending;
    bool await_ready() const noexcept { return pending->outcome.has_value(); }
    void await_suspend(std::coroutine_handle<> waiter) noexcept { pending->waiter = waiter; }
    HttpOutcome await_resume() { return std::move(*pending->outcome); }
};

QNetworkReply::NetworkError networkError(CURLcode code)
{
    switch (code) {
    case CURLE_COULDNT_CONNECT:
        return QNetworkReply::ConnectionRefusedError;
    case CURLE_COULDNT_RESOLVE_HOST:
        return QNetworkReply::HostNotFoundError;
    case CURLE_COULDNT_RESOLVE_PROXY:
        return QNetworkReply::ProxyNotFoundError;
    case CURLE_OPERATION_TIMEDOUT:
        return QNetworkReply::TimeoutError;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
        return QNetworkReply::SslHandshakeFailedError;
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_SEND_FAIL_REWIND:
        return QNetworkReply::RemoteHostClosedError;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_UNSUPPORTED_PROTOCOL:
        return QNetworkReply::ProtocolFailure;
    default:
        return QNetworkReply::UnknownNetworkError;
    }
}

QString errorTextFor(CURLcode code, const char *detail)
{
    switch (code) {
    case CURLE_COULDNT_CONNECT:
        return QStringLiteral("Could not connect to the server");
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_SEND_FAIL_REWIND:
        return QStringLiteral("The server closed the connection");
    default:
        return QString::fromUtf8(*detail ? detail : curl_easy_strerror(code));
    }
}

bool sameOrigin(const QUrl &a, const QUrl &b)
{
    const auto defaultPort = [](const QUrl &u) { return u.scheme() == QLatin1String("https") ? 443 : 80; };
    return a.scheme() == b.scheme() && a.host().compare(b.host(), Qt::CaseInsensitive) == 0 &&
           a.port(defaultPort(a)) == b.port(defaultPort(b));
}

bool isRedirect(long status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

} // namespace

class HttpTransfers::Worker {
public:
    explicit Worker(HttpTransfers *owner) : m_owner(owner)
    {
        static std::once_flag globalInit;
        std::call_once(globalInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
        m_multi = curl_multi_init();
        m_thread = std::thread([this] { run(); });
    }

    ~Worker()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        curl_multi_wakeup(m_multi);
        m_thread.join();
        for (auto &[id, transfer] : m_running)
            curl_multi_remove_handle(m_multi, transfer->easy);
        m_running.clear();
        curl_multi_cleanup(m_multi);
    }

    quint64 start(HttpCall call, std::shared_ptr<Pending> pending)
    {
        auto transfer = std::make_unique<Transfer>();
        transfer->call = std::move(call);
        transfer->pending = std::move(pending);
        quint64 id = 0;
        {
            const std::lock_guard lock(m_mutex);
            id = transfer->id = m_nextId++;
            m_incoming.push_back(std::move(transfer));
        }
        curl_multi_wakeup(m_multi);
        return id;
    }

    void cancel(quint64 id)
    {
        {
            const std::lock_guard lock(m_mutex);
            m_cancels.push_back(id);
        }
        curl_multi_wakeup(m_multi);
    }

private:
    struct Transfer {
        quint64 id = 0;
        HttpCall call;
        std::shared_ptr<Pending> pending;
        CURL *easy = nullptr;
        curl_slist *headers = nullptr;
        qint64 readPos = 0;
        QByteArray reply;
        bool replyTooLarge = false;
        bool bodyUnreadable = false;
        Clock::time_point started;
        Clock::time_point lastActivity;
        curl_off_t lastUp = 0;
        curl_off_t lastDown = 0;
        curl_off_t reportedUp = 0;
        int redirects = 0;
        char errorText[CURL_ERROR_SIZE] = {};

        ~Transfer()
        {
            if (easy)
                curl_easy_cleanup(easy);
            curl_slist_free_all(headers);
        }
    };
    using Running = std::unordered_map<quint64, std::unique_ptr<Transfer>>;

    void run()
    {
        for (;;) {
            std::deque<std::unique_ptr<Transfer>> incoming;
            std::vector<quint64> cancels;
            {
                const std::lock_guard lock(m_mutex);
                if (m_stop)
                    return;
                incoming.swap(m_incoming);
                cancels.swap(m_cancels);
            }
            for (auto &transfer : incoming)
                begin(std::move(transfer));
            for (const quint64 id : cancels) {
                HttpOutcome outcome;
                outcome.end = HttpOutcome::End::cancelled;
                if (const auto it = m_running.find(id); it != m_running.end())
                    finish(it, std::move(outcome));
            }
            int stillRunning = 0;
            curl_multi_perform(m_multi, &stillRunning);
            int left = 0;
            while (CURLMsg *message = curl_multi_info_read(m_multi, &left)) {
                if (message->msg != CURLMSG_DONE)
                    continue;
                Transfer *transfer = nullptr;
                curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &transfer);
                completed(*transfer, message->data.result);
            }
            const auto untilDeadline = enforceDeadlines();
            long curlWait = -1;
            curl_multi_timeout(m_multi, &curlWait);
            long wait = long(untilDeadline.count());
            if (curlWait >= 0)
                wait = std::min(wait, curlWait);
            curl_multi_poll(m_multi, nullptr, 0, int(wait), nullptr);
        }
    }

    void begin(std::unique_ptr<Transfer> owned)
    {
        Transfer &t = *owned;
        t.easy = curl_easy_init();
        curl_easy_setopt(t.easy, CURLOPT_PRIVATE, &t);
        curl_easy_setopt(t.easy, CURLOPT_ERRORBUFFER, t.errorText);
        curl_easy_setopt(t.easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(t.easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
        curl_easy_setopt(t.easy, CURLOPT_PROTOCOLS_STR, "http,https");
        // Paths go exactly as built: escaped ids stay one segment.
        curl_easy_setopt(t.easy, CURLOPT_PATH_AS_IS, 1L);
        curl_easy_setopt(t.easy, CURLOPT_WRITEFUNCTION, &Worker::onWrite);
        curl_easy_setopt(t.easy, CURLOPT_WRITEDATA, &t);
        curl_easy_setopt(t.easy, CURLOPT_READFUNCTION, &Worker::onRead);
        curl_easy_setopt(t.easy, CURLOPT_READDATA, &t);
        // No seek function: curl cannot rewind a body to resend it by itself
        // on a connection that died, so one attempt is one request.
        curl_easy_setopt(t.easy, CURLOPT_XFERINFOFUNCTION, &Worker::onProgress);
        curl_easy_setopt(t.easy, CURLOPT_XFERINFODATA, &t);
        curl_easy_setopt(t.easy, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(t.easy, CURLOPT_UPLOAD_BUFFERSIZE, kUploadBufferBytes);
        // Servers close idle connections after a few seconds; reusing one
        // just as it closes would cost an attempt.
        curl_easy_setopt(t.easy, CURLOPT_MAXAGE_CONN, 4L);
        t.started = t.lastActivity = Clock::now();
        configure(t);
        curl_multi_add_handle(m_multi, t.easy);
        m_running.emplace(t.id, std::move(owned));
    }

    // Method, URL, headers and body of the call as it stands (redirects
    // change them).
    static void configure(Transfer &t)
    {
        const HttpCall &call = t.call;
        curl_easy_setopt(t.easy, CURLOPT_URL, call.url.toEncoded().constData());
        curl_slist_free_all(t.headers);
        t.headers = nullptr;
        for (const QByteArray &header : call.headers) {
            if (!call.hasBody && header.toLower().startsWith("content-type:"))
                continue;
            t.headers = curl_slist_append(t.headers, header.constData());
        }
        // A body goes at once, without waiting for "100 Continue".
        t.headers = curl_slist_append(t.headers, "Expect:");
        curl_easy_setopt(t.easy, CURLOPT_HTTPHEADER, t.headers);
        t.readPos = 0;
        t.reply.clear();
        if (call.hasBody) {
            curl_easy_setopt(t.easy, CURLOPT_UPLOAD, 1L);
            curl_easy_setopt(t.easy, CURLOPT_INFILESIZE_LARGE, curl_off_t(bodySize(call)));
            curl_easy_setopt(t.easy, CURLOPT_CUSTOMREQUEST, call.method == "PUT" ? nullptr : call.method.constData());
        } else {
            curl_easy_setopt(t.easy, CURLOPT_HTTPGET, 1L);
            curl_easy_setopt(t.easy, CURLOPT_CUSTOMREQUEST, call.method == "GET" ? nullptr : call.method.constData());
        }
    }

    static qint64 bodySize(const HttpCall &call) { return call.fileBody ? call.fileBody->length() : call.body.size(); }

    static size_t onRead(char *buffer, size_t size, size_t count, void *data)
    {
        auto &t = *static_cast<Transfer *>(data);
        if (t.call.fileBody) {
            const qint64 got = t.call.fileBody->readAt(t.readPos, buffer, qint64(size * count));
            if (got < 0) {
                t.bodyUnreadable = true;
                return CURL_READFUNC_ABORT;
            }
            t.readPos += got;
            return size_t(got);
        }
        const qint64 length = std::min<qint64>(qint64(size * count), t.call.body.size() - t.readPos);
        std::memcpy(buffer, t.call.body.constData() + t.readPos, size_t(length));
        t.readPos += length;
        return size_t(length);
    }

    static size_t onWrite(char *bytes, size_t size, size_t count, void *data)
    {
        auto &t = *static_cast<Transfer *>(data);
        const size_t length = size * count;
        if (t.reply.size() + qsizetype(length) > kMaxReplyBytes) {
            t.replyTooLarge = true;
            return 0;
        }
        t.reply.append(bytes, qsizetype(length));
        return length;
    }

    static int onProgress(void *data, curl_off_t, curl_off_t downNow, curl_off_t, curl_off_t upNow)
    {
        auto &t = *static_cast<Transfer *>(data);
        if (upNow != t.lastUp || downNow != t.lastDown) {
            t.lastActivity = Clock::now();
            t.lastUp = upNow;
            t.lastDown = downNow;
        }
        if (t.call.onSend && t.call.hasBody && upNow > 0 && upNow != t.reportedUp) {
            t.reportedUp = upNow;
            t.call.onSend(std::min<qint64>(qint64(upNow), bodySize(t.call)));
        }
        return 0;
    }

    void completed(Transfer &t, CURLcode result)
    {
        const auto it = m_running.find(t.id);
        HttpOutcome outcome;
        if (result != CURLE_OK) {
            outcome.end = t.bodyUnreadable ? HttpOutcome::End::unreadable : HttpOutcome::End::failed;
            if (t.replyTooLarge) {
                outcome.errorText = QStringLiteral("The server's reply is too large");
            } else {
                outcome.error = networkError(result);
                outcome.errorText = errorTextFor(result, t.errorText);
            }
            finish(it, std::move(outcome));
            return;
        }
        long status = 0;
        curl_easy_getinfo(t.easy, CURLINFO_RESPONSE_CODE, &status);
        const char *location = nullptr;
        curl_easy_getinfo(t.easy, CURLINFO_REDIRECT_URL, &location);
        if (isRedirect(status) && location) {
            const QUrl next = QUrl::fromEncoded(QByteArray(location));
            outcome.end = HttpOutcome::End::failed;
            // The device token must never reach another origin.
            if (!sameOrigin(next, t.call.url)) {
                outcome.error = QNetworkReply::InsecureRedirectError;
                outcome.errorText = QStringLiteral("The server sent the request to another site");
            } else if (++t.redirects > kMaxRedirects) {
                outcome.error = QNetworkReply::TooManyRedirectsError;
                outcome.errorText = QStringLiteral("Too many redirects");
            } else {
                curl_multi_remove_handle(m_multi, t.easy);
                if (status == 303 || ((status == 301 || status == 302) && t.call.method == "POST")) {
                    t.call.method = "GET";
                    t.call.hasBody = false;
                    t.call.body.clear();
                    t.call.fileBody.reset();
                }
                t.call.url = next;
                configure(t);
                curl_multi_add_handle(m_multi, t.easy);
                return;
            }
            finish(it, std::move(outcome));
            return;
        }
        outcome.end = HttpOutcome::End::replied;
        outcome.status = int(status);
        outcome.body = std::move(t.reply);
        finish(it, std::move(outcome));
    }

    // Fails transfers past their limits; returns the time to the nearest limit.
    std::chrono::milliseconds enforceDeadlines()
    {
        const auto now = Clock::now();
        Clock::duration nearest = kLongestPoll;
        for (auto it = m_running.begin(); it != m_running.end();) {
            const Transfer &t = *it->second;
            const auto idleEnd = t.lastActivity + t.call.idleTimeout;
            const auto totalEnd = t.started + t.call.totalTimeout;
            if (now >= totalEnd || now >= idleEnd) {
                HttpOutcome outcome;
                outcome.end = now >= totalEnd ? HttpOutcome::End::overran : HttpOutcome::End::idle;
                it = finish(it, std::move(outcome));
                continue;
            }
            nearest = std::min({nearest, idleEnd - now, totalEnd - now});
            ++it;
        }
        return std::chrono::ceil<std::chrono::milliseconds>(nearest);
    }

    Running::iterator finish(Running::iterator it, HttpOutcome outcome)
    {
        Transfer &t = *it->second;
        curl_multi_remove_handle(m_multi, t.easy);
        // The owner outlives this thread, which it joins before it goes.
        QMetaObject::invokeMethod(
            m_owner,
            [pending = t.pending, outcome = std::move(outcome)]() mutable {
                pending->outcome = std::move(outcome);
                if (auto waiter = std::exchange(pending->waiter, {}))
                    waiter.resume();
            },
            Qt::QueuedConnection);
        return m_running.erase(it);
    }

    HttpTransfers *m_owner;
    CURLM *m_multi = nullptr;
    std::mutex m_mutex;
    std::deque<std::unique_ptr<Transfer>> m_incoming;
    std::vector<quint64> m_cancels;
    quint64 m_nextId = 1;
    bool m_stop = false;
    Running m_running; // transfer thread only
    std::thread m_thread;
};

HttpTransfers::HttpTransfers(QObject *parent) : QObject(parent), m_worker(std::make_unique<Worker>(this))
{
}

HttpTransfers::~HttpTransfers()
{
    // Joined before this object goes: no outcome is posted to a dead owner.
    m_worker.reset();
}

QCoro::Task<HttpOutcome> HttpTransfers::perform(HttpCall call, UploadCancellation *cancel)
{
    auto pending = std::make_shared<Pending>();
    Worker *worker = m_worker.get();
    const quint64 id = worker->start(std::move(call), pending);
    QMetaObject::Connection onCancel;
    if (cancel) {
        if (cancel->isCancelled())
            worker->cancel(id);
        else
            onCancel = connect(cancel, &UploadCancellation::cancelled, this, [worker, id] { worker->cancel(id); });
    }
    // Always awaited to the end, so no progress is reported after it.
    OutcomeAwaiter awaiter{pending};
    HttpOutcome outcome = co_await awaiter;
    disconnect(onCancel);
    co_return outcome;
}
