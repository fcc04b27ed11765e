// The upload algorithm: create, single or multipart, the three-part window,
// retries, cancellation, progress and memory.
#include "ServiceRig.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

namespace {

using Reports = QList<QPair<qint64, qint64>>;

struct ProgressLog {
    Reports reports;
    UploadProgress callback()
    {
        return [this](qint64 sent, qint64 total) { reports.append({sent, total}); };
    }
    bool neverAboveTotal() const
    {
        for (const auto &[sent, total] : reports)
            if (sent > total || sent < 0)
                return false;
        return true;
    }
};

UploadJob job(const QString &path)
{
    return UploadJob{path, QStringLiteral("Demo"), std::nullopt, std::nullopt, std::nullopt, std::nullopt};
}

// Part numbers the server has seen, sorted: parts are started in plan order
// but read in the background, so they may reach the server in any order.
QList<QByteArray> partPaths(const ScriptedServer &server)
{
    QList<QByteArray> paths;
    for (const RecordedRequest &r : server.requestsTo("PUT", "/api/videos/vid1/parts/"))
        paths.append(r.path.mid(QByteArray("/api/videos/vid1/parts/").size()));
    std::sort(paths.begin(), paths.end(),
              [](const QByteArray &a, const QByteArray &b) { return a.toInt() < b.toInt(); });
    return paths;
}

bool isPart(const RecordedRequest &r)
{
    return r.method == "PUT" && r.path.contains("/parts/");
}

} // namespace

TEST(Upload, CreateSendsOnlyTitleAndContentTypeWhenNothingElseIsGiven)
{
    ServiceRig rig;
    const QString file = rig.makeFile(5);
    ProgressLog progress;
    const VideoInfo info = run(rig.uploader->uploadFile(job(file), progress.callback()));
    EXPECT_EQ(info.id, "vid1");
    const RecordedRequest &create = rig.server.requests.at(0);
    EXPECT_EQ(create.method, "POST");
    EXPECT_EQ(create.path, "/api/videos");
    EXPECT_EQ(create.header("Content-Type"), "application/json");
    EXPECT_EQ(QJsonDocument::fromJson(create.body).object().keys(), (QStringList{"contentType", "title"}));
}

TEST(Upload, CreateCarriesFrameDurationAndLifetimeWhenGiven)
{
    ServiceRig rig;
    const QString file = rig.makeFile(5);
    run(rig.uploader->upload(file, QStringLiteral("T"), qint64(1234), 1280, 720, Lifetime::forever(), {}));
    run(rig.uploader->upload(file, QStringLiteral("T"), std::nullopt, std::nullopt, std::nullopt,
                             Lifetime::ofSeconds(7200), {}));
    const auto creates = rig.server.requestsTo("POST", "/api/videos");
    const QJsonObject first = QJsonDocument::fromJson(creates.at(0).body).object();
    EXPECT_EQ(first.value("durationMs").toInteger(), 1234);
    EXPECT_EQ(first.value("width").toInt(), 1280);
    EXPECT_EQ(first.value("height").toInt(), 720);
    EXPECT_EQ(first.value("lifetime").toString(), "forever");
    EXPECT_EQ(QJsonDocument::fromJson(creates.at(1).body).object().value("lifetime").toInteger(), 7200);
}

TEST(Upload, EmptyFileTakesTheSinglePath)
{
    for (const qint64 partSize : {qint64(0), qint64(10)}) {
        ServiceRig rig;
        rig.server.partSize = partSize;
        ProgressLog progress;
        run(rig.uploader->uploadFile(job(rig.makeFile(0)), progress.callback()));
        ASSERT_EQ(rig.server.requests.size(), 2) << partSize;
        const RecordedRequest &put = rig.server.requests[1];
        EXPECT_EQ(put.method, "PUT");
        EXPECT_EQ(put.path, "/api/videos/vid1");
        EXPECT_EQ(put.header("Content-Type"), "video/mp4");
        EXPECT_TRUE(put.body.isEmpty());
        EXPECT_EQ(progress.reports.last(), (QPair<qint64, qint64>{0, 0}));
        EXPECT_EQ(rig.logLines.first(), QStringLiteral("upload vid1: 0 bytes, partSize %1").arg(partSize));
    }
}

TEST(Upload, ExactlyOnePartIsSentWholeAndOneByteMoreMakesTwoParts)
{
    ServiceRig rig;
    rig.server.partSize = 10;
    const QString ten = rig.makeFile(10, QStringLiteral("ten.mp4"));
    ProgressLog progress;
    run(rig.uploader->uploadFile(job(ten), progress.callback()));
    EXPECT_EQ(rig.server.requestsTo("PUT", "/api/videos/vid1").size(), 1);
    EXPECT_TRUE(rig.server.requestsTo("POST", "/api/videos/vid1/complete").isEmpty());
    EXPECT_EQ(rig.server.uploadedBytes(), rig.fileBytes(ten));
    EXPECT_EQ(progress.reports.last(), (QPair<qint64, qint64>{10, 10}));

    ServiceRig rig2;
    rig2.server.partSize = 10;
    const QString eleven = rig2.makeFile(11, QStringLiteral("eleven.mp4"));
    run(rig2.uploader->uploadFile(job(eleven), {}));
    ASSERT_EQ(rig2.server.requestsTo("PUT", "/api/videos/vid1/parts/").size(), 2);
    const auto second = rig2.server.requestsTo("PUT", "/api/videos/vid1/parts/2");
    ASSERT_EQ(second.size(), 1);
    EXPECT_EQ(second[0].body.size(), 1);
    EXPECT_EQ(second[0].header("Content-Type"), "application/octet-stream");
    EXPECT_EQ(rig2.server.uploadedBytes(), rig2.fileBytes(eleven));
}

TEST(Upload, TwentyFiveBytesInPartsOfTenStartAllThreeAtOnce)
{
    ServiceRig rig;
    rig.server.partSize = 10;
    rig.server.script = [](const RecordedRequest &r) -> std::optional<ScriptedReply> {
        if (isPart(r))
            return ScriptedReply::hold();
        return std::nullopt;
    };
    const QString file = rig.makeFile(25);
    ProgressLog progress;
    auto task = rig.uploader->uploadFile(job(file), progress.callback());
    ASSERT_TRUE(waitUntil([&] { return rig.server.heldPaths().size() == 3; }));
    rig.server.releaseAll();
    const VideoInfo info = run(std::move(task));
    EXPECT_EQ(info.shareUrl, rig.server.origin().toString() + "/v/vid1");

    const auto parts = rig.server.requestsTo("PUT", "/api/videos/vid1/parts/");
    ASSERT_EQ(parts.size(), 3);
    QMap<QByteArray, QByteArray> bodies;
    for (const auto &p : parts)
        bodies.insert(p.path, p.body);
    const QByteArray bytes = rig.fileBytes(file);
    EXPECT_EQ(bodies.value("/api/videos/vid1/parts/1"), bytes.mid(0, 10));
    EXPECT_EQ(bodies.value("/api/videos/vid1/parts/2"), bytes.mid(10, 10));
    EXPECT_EQ(bodies.value("/api/videos/vid1/parts/3"), bytes.mid(20, 5));
    EXPECT_EQ(rig.logLines.first(), "upload vid1: 25 bytes, partSize 10");
    EXPECT_EQ(rig.logLinesContaining("part 3/3 done (5 bytes)").size(), 1);
    EXPECT_EQ(progress.reports.last(), (QPair<qint64, qint64>{25, 25}));
    EXPECT_TRUE(progress.neverAboveTotal());
}

TEST(Upload, NeverMoreThanThreePartsAndTheNextStartsWhenAnyFinishes)
{
    ServiceRig rig;
    rig.server.partSize = 10;
    rig.server.script = [](const RecordedRequest &r) -> std::optional<ScriptedReply> {
        if (isPart(r))
            return ScriptedReply::hold();
        return std::nullopt;
    };
    auto task = rig.uploader->uploadFile(job(rig.makeFile(70)), {});
    ASSERT_TRUE(waitUntil([&] { return rig.server.heldPaths().size() == 3; }));
    EXPECT_EQ(partPaths(rig.server), (QList<QByteArray>{"1", "2", "3"}));

    // Part 2 finishing first lets part 4 in, and only part 4.
    rig.server.release("/api/videos/vid1/parts/2");
    ASSERT_TRUE(waitUntil([&] { return partPaths(rig.server).size() == 4; }));
    EXPECT_EQ(partPaths(rig.server), (QList<QByteArray>{"1", "2", "3", "4"}));
    EXPECT_EQ(rig.server.heldPaths().size(), 3);

    rig.server.release("/api/videos/vid1/parts/3");
    rig.server.release("/api/videos/vid1/parts/1");
    ASSERT_TRUE(waitUntil([&] { return partPaths(rig.server).size() == 6; }));
    EXPECT_EQ(partPaths(rig.server).mid(4), (QList<QByteArray>{"5", "6"}));
    ASSERT_TRUE(waitUntil([&] {
        rig.server.releaseAll();
        return task.isReady();
    }));
    run(std::move(task));
    // Never a fourth at once, at any moment.
    EXPECT_EQ(rig.server.peakPending(), 3);
    EXPECT_EQ(rig.uploader->peakPartBodiesHeld(), 3);
    EXPECT_EQ(rig.uploader->partBodiesHeld(), 0);
}

TEST(Upload, PartsFinishingOutOfOrderCompleteInOrderWithTheServicesTags)
{
    ServiceRig rig;
    rig.server.partSize = 10;
    rig.server.script = [](const RecordedRequest &r) -> std::optional<ScriptedReply> {
        if (isPart(r))
            return ScriptedReply::hold();
        return std::nullopt;
    };
    const QString file = rig.makeFile(25);
    auto task = rig.uploader->uploadFile(UploadJob{file, "T", qint64(900), 4, 2, Lifetime::forever()}, {});
    ASSERT_TRUE(waitUntil([&] { return rig.server.heldPaths().size() == 3; }));
    int released = 0;
    for (const char *n : {"3", "1", "2"}) {
        rig.server.release(QByteArray("/api/videos/vid1/parts/") + n);
        ++released;
        ASSERT_TRUE(waitUntil([&] { return rig.logLinesContaining(" done (").size() == released; }));
    }
    run(std::move(task));
    const auto complete = rig.server.requestsTo("POST", "/api/videos/vid1/complete");
    ASSERT_EQ(complete.size(), 1);
    EXPECT_EQ(complete[0].body, R"({"durationMs":900,"height":2,"parts":[{"etag":"etag-1","partNumber":1},)"
                                R"({"etag":"etag-2","partNumber":2},{"etag":"etag-3","partNumber":3}],"width":4})");
    const QStringList done = rig.logLinesContaining(" done (");
    EXPECT_EQ(done, (QStringList{"upload vid1: part 3/3 done (5 bytes)", "upload vid1: part 1/3 done (10 bytes)",
                                 "upload vid1: part 2/3 done (10 bytes)"}));
}

TEST(Upload, APartFailingTwiceThenSucceedingIsLoggedOnce)
{
    ServiceRig rig;
    rig.server.partSize = 10;
    int failures = 0;
    rig.server.script = [&](const RecordedRequest &r) -> std::optional<ScriptedReply> {
        if (r.path == "/api/videos/vid1/parts/2" && failures < 2) {
            ++failures;
            return ScriptedReply::json(failures == 1 ? 500 : 502, "busy");
        }
        return std::nullopt;
    };
    const QString file = rig.makeFile(25);
    ProgressLog progress;
    run(rig.uploader->uploadFile(job(file), progress.callback()));
    EXPECT_EQ(rig.server.requestsTo("PUT", "/api/videos/vid1/parts/2").size(), 3);
    EXPECT_EQ(rig.retryWaits, (QList<int>{0, 1}));
    EXPECT_EQ(rig.logLinesContaining("part 2/3 done").size(), 1);
    EXPECT_EQ(rig.server.uploadedBytes(), rig.fileBytes(file));
    EXPECT_EQ(progress.reports.last(), (QPair<qint64, qint64>{25, 25}));
}

TEST(Upload, APartFailingThreeTimesFailsTheUploadWithoutComplete)
{
    ServiceRig rig;
    rig.server.partSize = 10;
    rig.server.script = [&](const RecordedRequest &r) -> std::optional<ScriptedReply> {
        if (r.path == "/api/videos/vid1/parts/1")
            return ScriptedReply::json(503, R"({"error":"down"})");
        return std::nullopt;
    };
    const UploadError e = expectFailure<UploadError>(rig.uploader->uploadFile(job(rig.makeFile(25)), {}));
    EXPECT_EQ(e.description(), QStringLiteral("Server returned 503: {\"error\":\"down\"}"));
    EXPECT_EQ(rig.server.requestsTo("PUT", "/api/videos/vid1/parts/1").size(), 3);
    EXPECT_EQ(rig.retryWaits, (QList<int>{0, 1, 2}));
    EXPECT_TRUE(rig.server.requestsTo("POST", "/api/videos/vid1/complete").isEmpty());
    EXPECT_EQ(rig.uploader->partBodiesHeld(), 0);
}

TEST(Upload, APartWhoseConnectionKeepsDroppingFailsWithTheTransportError)
{
    ServiceRig rig;
    rig.server.partSize = 10;
    rig.server.script = [&](const RecordedRequest &r) -> std::optional<ScriptedReply> {
        if (r.path == "/api/videos/vid1/parts/3")
            return ScriptedReply::drop();
        return std::nullopt;
    };
    const TransportError e = expectFailure<TransportError>(rig.uploader->uploadFile(job(rig.makeFile(25)), {}));
    EXPECT_FALSE(e.isCancellation());
    EXPECT_EQ(rig.retryWaits, (QList<int>{0, 1, 2}));
    EXPECT_TRUE(rig.server.requestsTo("POST", "/api/videos/vid1/complete").isEmpty());
}

TEST(Upload, AFailedPartStopsTheOthersAndStartsNoMore)
{
    UploaderTimings timings = ServiceRig::fastTimings();
    timings.retryWait = [](int) { return std::chrono::milliseconds(0); };
    ServiceRig rig(timings);
    rig.server.partSize = 10;
    rig.server.script = [&](const RecordedRequest &r) -> std::optional<ScriptedReply> {
        if (r.path == "/api/videos/vid1/parts/1")
            return ScriptedReply::json(500, "no");
        if (isPart(r))
            return ScriptedReply::hold();
        return std::nullopt;
    };
    expectFailure<UploadError>(rig.uploader->uploadFile(job(rig.makeFile(100)), {}));
    // Parts 2 and 3 were held and then abandoned; nothing beyond them started.
    EXPECT_EQ(partPaths(rig.server).count("4"), 0);
    EXPECT_TRUE(rig.server.requestsTo("POST", "/api/videos/vid1/complete").isEmpty());
}

TEST(Upload, CancelDuringARetryWaitEndsAtOnce)
{
    UploaderTimings timings = ServiceRig::fastTimings();
    timings.retryWait = [](int) { return std::chrono::seconds(30); };
    ServiceRig rig(timings);
    rig.server.partSize = 10;
    rig.server.script = [&](const RecordedRequest &r) -> std::optional<ScriptedReply> {
        if (r.path == "/api/videos/vid1/parts/1")
            return ScriptedReply::json(500, "retry me");
        return std::nullopt;
    };
    auto cancel = std::make_shared<UploadCancellation>();
    auto task = rig.uploader->uploadFile(job(rig.makeFile(25)), {}, cancel);
    ASSERT_TRUE(waitUntil([&] { return rig.retryWaits.size() == 1; }));
    QElapsedTimer clock;
    clock.start();
    cancel->cancel();
    const TransportError e = expectFailure<TransportError>(std::move(task));
    EXPECT_TRUE(e.isCancellation());
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(rig.server.requestsTo("PUT", "/api/videos/vid1/parts/1").size(), 1);
    EXPECT_TRUE(rig.server.requestsTo("POST", "/api/videos/vid1/complete").isEmpty());
}

TEST(Upload, CancelAbortsPartsInFlight)
{
    ServiceRig rig;
    rig.server.partSize = 10;
    rig.server.script = [](const RecordedRequest &r) -> std::optional<ScriptedReply> {
        if (isPart(r))
            return ScriptedReply::hold();
        return std::nullopt;
    };
    auto cancel = std::make_shared<UploadCancellation>();
    auto task = rig.uploader->uploadFile(job(rig.makeFile(50)), {}, cancel);
    ASSERT_TRUE(waitUntil([&] { return rig.server.heldPaths().size() == 3; }));
    cancel->cancel();
    EXPECT_TRUE(expectFailure<TransportError>(std::move(task)).isCancellation());
    EXPECT_EQ(partPaths(rig.server).size(), 3);
    EXPECT_TRUE(rig.retryWaits.isEmpty());
    EXPECT_EQ(rig.uploader->partBodiesHeld(), 0);
}

TEST(Upload, PartSizeThatCannotCoverTheFileIsABadResponse)
{
    for (const qint64 partSize : {qint64(0), qint64(-1)}) {
        ServiceRig rig;
        rig.server.partSize = partSize;
        const UploadError e = expectFailure<UploadError>(rig.uploader->uploadFile(job(rig.makeFile(5)), {}));
        EXPECT_EQ(e.kind(), UploadError::Kind::badResponse);
        EXPECT_EQ(rig.server.requests.size(), 1);
    }
}

TEST(Upload, CreateFailuresAndUnreadableFilesStopEarly)
{
    ServiceRig rig;
    expectFailure<FileAccessError>(rig.uploader->uploadFile(job(rig.dir.filePath("missing.mp4")), {}));
    EXPECT_TRUE(rig.server.requests.isEmpty());

    rig.server.script = [](const RecordedRequest &) { return ScriptedReply::json(200, R"({"id":"vid1"})"); };
    expectFailure<ReplyDecodingError>(rig.uploader->uploadFile(job(rig.makeFile(5)), {}));
    EXPECT_EQ(rig.server.requests.size(), 1);
}

TEST(Upload, AFileThatShrinksAfterCreateFailsWithRead)
{
    ServiceRig rig;
    rig.server.partSize = 10;
    const QString file = rig.makeFile(25);
    rig.server.script = [&](const RecordedRequest &r) -> std::optional<ScriptedReply> {
        if (r.path == "/api/videos")
            QFile::resize(file, 15);
        return std::nullopt;
    };
    const UploadError e = expectFailure<UploadError>(rig.uploader->uploadFile(job(file), {}));
    EXPECT_EQ(e.description(), "Could not read the recording file.");
    EXPECT_TRUE(rig.server.requestsTo("POST", "/api/videos/vid1/complete").isEmpty());
    // The part that could not be read was never retried.
    EXPECT_TRUE(rig.retryWaits.isEmpty());
}

TEST(Upload, ProgressStaysWithinTotalAndEndsAtTotal)
{
    ServiceRig rig;
    rig.server.partSize = 64 * 1024;
    const QString file = rig.makeFile(1000 * 1000);
    ProgressLog progress;
    run(rig.uploader->uploadFile(job(file), progress.callback()));
    EXPECT_TRUE(progress.neverAboveTotal());
    EXPECT_GT(progress.reports.size(), 16);
    EXPECT_EQ(progress.reports.last(), (QPair<qint64, qint64>{1000000, 1000000}));
    EXPECT_EQ(rig.server.uploadedBytes(), rig.fileBytes(file));
    EXPECT_EQ(rig.uploader->peakPartBodiesHeld(), 3);
}

TEST(Upload, DefaultRetryWaitsAreTwoFourAndSixSeconds)
{
    const UploaderTimings timings;
    EXPECT_EQ(timings.retryWait(0), std::chrono::seconds(2));
    EXPECT_EQ(timings.retryWait(1), std::chrono::seconds(4));
    EXPECT_EQ(timings.retryWait(2), std::chrono::seconds(6));
    EXPECT_EQ(timings.requestTimeout, std::chrono::seconds(60));
    EXPECT_EQ(timings.resourceTimeout, std::chrono::seconds(3600));
    EXPECT_EQ(Uploader::concurrentParts, 3);
}

TEST(Upload, TheSinglePathReportsRunningTotalsAndEndsAtTotal)
{
    ServiceRig rig;
    rig.server.partSize = 8 * 1000 * 1000;
    const QString file = rig.makeFile(3 * 1000 * 1000);
    ProgressLog progress;
    run(rig.uploader->uploadFile(job(file), progress.callback()));
    EXPECT_TRUE(rig.server.requestsTo("PUT", "/api/videos/vid1/parts/").isEmpty());
    EXPECT_GT(progress.reports.size(), 1);
    EXPECT_TRUE(progress.neverAboveTotal());
    EXPECT_EQ(progress.reports.last(), (QPair<qint64, qint64>{3000000, 3000000}));
    EXPECT_EQ(rig.server.uploadedBytes(), rig.fileBytes(file));
}
