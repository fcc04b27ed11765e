// Uploader::uploadFile: create, then one PUT or up to three parts at a time,
// then complete.
#include "service/FileSlices.h"
#include "service/ProgressTracker.h"
#include "service/ServiceErrors.h"
#include "service/Uploader.h"
#include "service/WireBodies.h"

#include <QFileInfo>
#include <QMap>

#include <deque>

namespace {

QString videoPath(const QString &id)
{
    return QStringLiteral("/api/videos/") + RequestFactory::segment(id);
}

struct PartOutcome {
    qint64 number = 0;
    PartResponse response;
    std::exception_ptr error;
};

} // namespace

// State of one upload, shared by its part tasks; nothing stays on the
// Uploader afterwards.
struct Uploader::UploadRun {
    UploadJob job;
    QString id;
    qint64 totalBytes = 0;
    qint64 partSize = 0;
    qint64 partCount = 0;
    std::shared_ptr<ProgressTracker> tracker;
    // Fires when the caller cancels or when a part has failed for good.
    std::shared_ptr<UploadCancellation> stopParts = std::make_shared<UploadCancellation>();
    Notifier partFinished;
    std::deque<PartOutcome> outcomes;
};

// Counts part bodies in memory, so tests and the benchmark can check the
// three-at-once bound.
class Uploader::PartBodyHold {
public:
    explicit PartBodyHold(Uploader &uploader) : m_uploader(uploader)
    {
        ++m_uploader.m_partBodiesHeld;
        m_uploader.m_peakPartBodiesHeld = qMax(m_uploader.m_peakPartBodiesHeld, m_uploader.m_partBodiesHeld);
    }
    ~PartBodyHold() { --m_uploader.m_partBodiesHeld; }
    PartBodyHold(const PartBodyHold &) = delete;
    PartBodyHold &operator=(const PartBodyHold &) = delete;

private:
    Uploader &m_uploader;
};

QCoro::Task<VideoInfo> Uploader::uploadFile(UploadJob job, UploadProgress progress,
                                            std::shared_ptr<UploadCancellation> cancel)
{
    const QFileInfo info(job.filePath);
    if (!info.exists() || !info.isFile())
        throw FileAccessError(job.filePath, QStringLiteral("No such file"));
    auto run = std::make_shared<UploadRun>();
    run->totalBytes = info.size();
    run->tracker = std::make_shared<ProgressTracker>(run->totalBytes, std::move(progress));
    if (cancel) {
        if (cancel->isCancelled())
            run->stopParts->cancel();
        connect(cancel.get(), &UploadCancellation::cancelled, run->stopParts.get(), &UploadCancellation::cancel);
    }

    QByteArray createBody = WireBodies::create(job.title, job.durationMs, job.width, job.height, job.lifetime);
    QString createPath = QStringLiteral("/api/videos");
    QString json = QStringLiteral("application/json");
    const CreateResponse created = co_await request<CreateResponse>("POST", std::move(createPath),
                                                                    std::move(createBody), json, {}, run->stopParts);
    run->id = created.id;
    run->partSize = created.partSize;
    run->job = std::move(job);
    log(QStringLiteral("upload %1: %2 bytes, partSize %3")
            .arg(run->id, QString::number(run->totalBytes), QString::number(created.partSize)));
    // Without an id no later path can be built; a part size that is not
    // positive could never cover a non-empty file.
    if (run->id.isEmpty() || created.partSize < 0 || (created.partSize == 0 && run->totalBytes > 0))
        throw UploadError::badResponse();

    if (created.partSize >= run->totalBytes)
        co_return co_await sendWhole(run);
    co_return co_await sendParts(run);
}

QCoro::Task<VideoInfo> Uploader::sendWhole(std::shared_ptr<UploadRun> run)
{
    QString filePath = run->job.filePath;
    const QByteArray whole = co_await FileSlices::readInBackground(std::move(filePath), 0, run->totalBytes);
    const PartBodyHold hold(*this);
    QString path = videoPath(run->id);
    QString contentType = QStringLiteral("video/mp4");
    OnSend onSend = [tracker = run->tracker](qint64 sent) { tracker->update(1, sent); };
    const VideoInfo info =
        co_await request<VideoInfo>("PUT", std::move(path), whole, std::move(contentType), onSend, run->stopParts);
    run->tracker->finish();
    co_return info;
}

QCoro::Task<VideoInfo> Uploader::sendParts(std::shared_ptr<UploadRun> run)
{
    const PartPlan plan(run->totalBytes, run->partSize);
    run->partCount = plan.count();
    qint64 cursor = 0;
    int running = 0;
    std::exception_ptr failure;
    QMap<qint64, PartResponse> results;
    const auto enqueue = [&] {
        if (cursor >= plan.count() || failure)
            return;
        const PartSlice slice = plan.at(cursor++);
        ++running;
        // Runs on its own; reports back through run->outcomes.
        runPart(run, slice);
    };

    for (int i = 0; i < concurrentParts; ++i)
        enqueue();
    while (running > 0) {
        while (run->outcomes.empty())
            co_await run->partFinished.wait();
        PartOutcome outcome = std::move(run->outcomes.front());
        run->outcomes.pop_front();
        --running;
        if (outcome.error) {
            // The first failure decides; the others are winding down.
            if (!failure) {
                failure = outcome.error;
                run->stopParts->cancel();
            }
            continue;
        }
        results.insert(outcome.number, outcome.response);
        enqueue();
    }
    if (failure)
        std::rethrow_exception(failure);

    QByteArray body = WireBodies::complete(results, run->job.durationMs, run->job.width, run->job.height);
    co_return co_await complete(run, std::move(body));
}

QCoro::Task<VideoInfo> Uploader::complete(std::shared_ptr<UploadRun> run, QByteArray body)
{
    // Completing again with the same parts gives the same record, so a reply
    // lost to a dropped connection or a time-out is worth asking for again.
    const QString path = videoPath(run->id) + QStringLiteral("/complete");
    const QString contentType = QStringLiteral("application/json");
    for (int attempt = 0;; ++attempt) {
        try {
            co_return co_await request<VideoInfo>("POST", path, body, contentType, {}, run->stopParts);
        } catch (const TransportError &e) {
            if (e.isCancellation() || attempt + 1 >= kPartAttempts)
                throw;
            log(QStringLiteral("upload %1: complete failed (%2), trying again").arg(run->id, e.description()));
        }
        co_await pauseUnlessCancelled(m_timings.retryWait(attempt), run->stopParts.get());
        if (run->stopParts->isCancelled())
            throw TransportError::cancelled();
    }
}

QCoro::Task<> Uploader::runPart(std::shared_ptr<UploadRun> run, PartSlice slice)
{
    PartOutcome outcome;
    outcome.number = slice.number;
    try {
        outcome.response = co_await sendPart(run, slice);
    } catch (...) {
        outcome.error = std::current_exception();
    }
    run->outcomes.push_back(std::move(outcome));
    run->partFinished.notify();
}

QCoro::Task<PartResponse> Uploader::sendPart(std::shared_ptr<UploadRun> run, PartSlice slice)
{
    // Opened once for all attempts and read as it is sent, so no part waits
    // in memory; a file that fails to read is not worth retrying.
    const auto body = FileSlice::open(run->job.filePath, slice.offset, slice.length);
    const PartBodyHold hold(*this);
    const QString path = videoPath(run->id) + QStringLiteral("/parts/") + QString::number(slice.number);
    const OnSend onSend = [tracker = run->tracker, part = slice.number](qint64 sent) { tracker->update(part, sent); };
    const QString contentType = QStringLiteral("application/octet-stream");
    std::exception_ptr lastError;
    for (int attempt = 0; attempt < kPartAttempts; ++attempt) {
        if (run->stopParts->isCancelled())
            throw TransportError::cancelled();
        try {
            Exchange ex{"PUT", path, {}, true, contentType, onSend, run->stopParts, false, false, body};
            const QByteArray reply = co_await exchange(std::move(ex));
            const PartResponse response = decodeReply<PartResponse>(reply);
            run->tracker->update(slice.number, slice.length);
            log(QStringLiteral("upload %1: part %2/%3 done (%4 bytes)")
                    .arg(run->id, QString::number(slice.number), QString::number(run->partCount),
                         QString::number(slice.length)));
            co_return response;
        } catch (const UploadError &e) {
            if (e.kind() == UploadError::Kind::read)
                throw;
            lastError = std::current_exception();
        } catch (...) {
            lastError = std::current_exception();
        }
        // A stopped upload does not wait.
        if (run->stopParts->isCancelled())
            std::rethrow_exception(lastError);
        const std::chrono::milliseconds wait = m_timings.retryWait(attempt);
        co_await pauseUnlessCancelled(wait, run->stopParts.get());
    }
    std::rethrow_exception(lastError);
}
