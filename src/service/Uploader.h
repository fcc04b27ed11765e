#pragma once

#include "service/AsyncWaits.h"
#include "service/DeviceToken.h"
#include "service/HttpTransfers.h"
#include "service/PartPlan.h"
#include "service/RequestFactory.h"
#include "service/VideoService.h"
#include "service/WireDecoding.h"

#include <QObject>
#include <QPointer>

#include <chrono>
#include <functional>
#include <memory>

class PreferenceStore;
class Reachability;

// Time limits of the service client. Tests shrink them; the app keeps these.
struct UploaderTimings {
    // Per request: aborted when no byte moves for this long.
    std::chrono::milliseconds requestTimeout{std::chrono::seconds(60)};
    // Per request, from start to end, and the longest wait for the network.
    std::chrono::milliseconds resourceTimeout{std::chrono::seconds(3600)};
    // The wait after failed attempt k (0, 1, 2) of a part: 2, 4 and 6 s.
    std::function<std::chrono::milliseconds(int attempt)> retryWait = [](int attempt) {
        return std::chrono::milliseconds(2000 * (attempt + 1));
    };
};

struct UploaderOptions {
    UploaderTimings timings;
    // Where "upload " lines go; the diagnostic log unless a test listens.
    std::function<void(const QString &line)> log;
    // Offline detection; the system's when null.
    Reachability *reachability = nullptr;
};

// What to upload, beside the progress callback.
struct UploadJob {
    QString filePath;
    QString title;
    std::optional<qint64> durationMs;
    std::optional<int> width;
    std::optional<int> height;
    std::optional<Lifetime> lifetime;
};

// The sharing service client: every endpoint, the device token, and the
// multipart upload. Main thread only; operations may overlap. Made once and
// kept for the whole run.
class Uploader final : public QObject, public VideoService, public VideoUploader {
    Q_OBJECT
public:
    static constexpr int concurrentParts = 3;
    static constexpr int kPartAttempts = 3;
    static constexpr int kMaxListPages = 1000;
    // Called with the cumulative body bytes sent by one request.
    using OnSend = std::function<void(qint64 sentBytes)>;

    Uploader(QUrl baseUrl, PreferenceStore &preferences, UploaderOptions options = {}, QObject *parent = nullptr);
    ~Uploader() override;

    QUrl baseUrl() const { return m_baseUrl; }

    QCoro::Task<VideoList> listVideos() override;
    QCoro::Task<> deleteVideo(QString id) override;
    QCoro::Task<TitleResponse> rename(QString id, QString title) override;
    QCoro::Task<KeepResponse> setExpiry(QString id, Lifetime lifetime) override;

    QCoro::Task<VideoInfo> upload(QString filePath, QString title, std::optional<qint64> durationMs,
                                  std::optional<int> width, std::optional<int> height, std::optional<Lifetime> lifetime,
                                  UploadProgress progress) override;
    // The same; `cancel` (optional) stops it: requests are aborted, waits end,
    // and the upload fails with the cancellation error.
    QCoro::Task<VideoInfo> uploadFile(UploadJob job, UploadProgress progress,
                                      std::shared_ptr<UploadCancellation> cancel = {});

    // A request with a body; the reply decoded as Record.
    template <typename Record>
    QCoro::Task<Record> request(QByteArray method, QString path, QByteArray body, QString contentType,
                                OnSend onSend = {}, std::shared_ptr<UploadCancellation> cancel = {})
    {
        // Arguments go through named locals: GCC 12 mishandles temporaries
        // inside co_await expressions.
        Exchange ex{std::move(method), std::move(path),   std::move(body), true, std::move(contentType),
                    std::move(onSend), std::move(cancel), false,           false};
        const QByteArray reply = co_await exchange(std::move(ex));
        co_return decodeReply<Record>(reply);
    }

    // A body-less GET that bypasses every cache; the reply decoded as Record.
    template <typename Record> QCoro::Task<Record> get(QString path)
    {
        Exchange ex{"GET", std::move(path), {}, false, {}, {}, {}, true, false};
        const QByteArray reply = co_await exchange(std::move(ex));
        co_return decodeReply<Record>(reply);
    }

    // Part bodies held in memory now, and the most ever held at once.
    int partBodiesHeld() const { return m_partBodiesHeld; }
    int peakPartBodiesHeld() const { return m_peakPartBodiesHeld; }

private:
    struct Exchange {
        QByteArray method;
        QString path;
        QByteArray body;
        bool hasBody = false;
        QString contentType;
        OnSend onSend;
        std::shared_ptr<UploadCancellation> cancel;
        bool freshRead = false;
        bool notFoundIsSuccess = false;
        // Read from the file as it is sent, instead of `body`.
        std::shared_ptr<const FileSlice> fileBody;
    };
    struct UploadRun;
    class PartBodyHold;

    // Sends one request and applies the reply rules: transport errors pass
    // up unchanged, no HTTP status is badResponse, outside 2xx is http.
    QCoro::Task<QByteArray> exchange(Exchange exchange);
    QCoro::Task<> waitForNetwork(std::shared_ptr<UploadCancellation> cancel);
    HttpCall call(const Exchange &exchange);

    QCoro::Task<VideoInfo> sendWhole(std::shared_ptr<UploadRun> run);
    QCoro::Task<VideoInfo> sendParts(std::shared_ptr<UploadRun> run);
    QCoro::Task<> runPart(std::shared_ptr<UploadRun> run, PartSlice slice);
    QCoro::Task<PartResponse> sendPart(std::shared_ptr<UploadRun> run, PartSlice slice);
    QCoro::Task<VideoInfo> complete(std::shared_ptr<UploadRun> run, QByteArray body);
    void log(const QString &line) const;

    QUrl m_baseUrl;
    UploaderTimings m_timings;
    std::function<void(const QString &)> m_log;
    DeviceToken m_token;
    RequestFactory m_requests;
    HttpTransfers *m_transfers;
    QPointer<Reachability> m_reachability;
    int m_partBodiesHeld = 0;
    int m_peakPartBodiesHeld = 0;
};
