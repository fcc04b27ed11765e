// The upload algorithm: create, single or multipart, the three-part window,
// retries, cancellation, progress and memory.
#include "ServiceRig.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

namespace {

using Report = QPair<qint64, qint64>;

struct ProgressLog {
    QList<Report> reports;
    UploadProgress callback()
    {
        return [this](qint64 sent, qint64 total) { reports.append({sent, total}); };
    }
    bool neverAboveTotal() const
    {
        return std::all_of(reports.begin(), reports.end(),
                           [](Report r) { return r.first >= 0 && r.first <= r.second; });
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

std::optional<ScriptedReply> holdParts(const RecordedRequest &r)
{
    if (r.method == "PUT" && r.path.contains("/parts/"))
        return ScriptedReply::hold();
    return std::nullopt;
}

} // namespace

TEST(Upload, CreateCarriesTitleAndTypeAndOnlyTheFactsGiven)
{
    ServiceRig rig;
    const QString file = rig.makeFile(5);
    EXPECT_EQ(run(rig.uploader->uploadFile(job(file), {})).id, "vid1");
    run(rig.uploader->upload(file, QStringLiteral("T"), qint64(1234), 1280, 720, Lifetime::forever(), {}));
    run(rig.uploader->upload(file, QStringLiteral("T"), std::nullopt, std::nullopt, std::nullopt,
                             Lifetime::ofSeconds(7200), {}));
    const auto creates = rig.server.requestsTo("POST", "/api/videos");
    ASSERT_EQ(creates.size(), 3);
    EXPECT_EQ(creates[0].header("Content-Type"), "application/json");
    EXPECT_EQ(creates[0].body, R"({"contentType":"video/mp4","title":"Demo"})");
    EXPECT_EQ(
        creates[1].body,
        R"({"contentType":"video/mp4","durationMs":1234,"height":720,"lifetime":"forever","title":"T","width":1280})");
    EXPECT_EQ(QJsonDocument::fromJson(creates[2].body).object().value("lifetime").toInteger(), 7200);
}

TEST(Upload, EachFileSizeGoesUpWholeByTheRightPath)
{
    // Up to one part (or a part size of 0 for an empty file) goes in one PUT;
    // anything larger in parts with a complete.
    const struct {
        qint64 size, partSize;
        int parts;
    } cases[] = {
        {0, 0, 0}, {0, 10, 0}, {10, 10, 0}, {11, 10, 2}, {25, 10, 3}, {1000000, 64 * 1024, 16}, {3000000, 8000000, 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(QStringLiteral("%1 in %2").arg(c.size).arg(c.partSize).toStdString());
        ServiceRig rig;
        rig.server.partSize = c.partSize;
        const QString file = rig.makeFile(c.size);
        ProgressLog progress;
        run(rig.uploader->uploadFile(job(file), progress.callback()));
        EXPECT_EQ(rig.server.uploadedBytes(), rig.fileBytes(file));
        EXPECT_EQ(progress.reports.last(), (Report{c.size, c.size}));
        EXPECT_TRUE(progress.neverAboveTotal());
        EXPECT_EQ(rig.logLines.first(),
                  QStringLiteral("upload vid1: %1 bytes, partSize %2").arg(c.size).arg(c.partSize));
        const auto parts = rig.server.requestsTo("PUT", "/api/videos/vid1/parts/");
        EXPECT_EQ(parts.size(), c.parts);
        EXPECT_EQ(rig.server.requestsTo("POST", "/api/videos/vid1/complete").size(), c.parts ? 1 : 0);
        if (c.parts) {
            EXPECT_EQ(parts[0].header("Content-Type"), "application/octet-stream");
            EXPECT_EQ(rig.uploader->peakPartBodiesHeld(), std::min(c.parts, 3));
        } else {
            const auto put = rig.server.requestsTo("PUT", "/api/videos/vid1");
            ASSERT_EQ(put.size(), 1);
            EXPECT_EQ(put[0].header("Content-Type"), "video/mp4");
        }
        if (c.size > 1000)
            EXPECT_GT(progress.reports.size(), 1) << "running totals, not only the end";
    }
}

TEST(Upload, NeverMoreThanThreePartsAndTheNextStartsWhenAnyFinishes)
{
    ServiceRig rig;
    rig.server.script = holdParts;
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
    rig.server.script = holdParts;
    const QString file = rig.makeFile(25);
    auto task = rig.uploader->uploadFile(UploadJob{file, "T", qint64(900), 4, 2, Lifetime::forever()}, {});
    ASSERT_TRUE(waitUntil([&] { return rig.server.heldPaths().size() == 3; }));
    int released = 0;
    for (const char *n : {"3", "1", "2"}) {
        rig.server.release(QByteArray("/api/videos/vid1/parts/") + n);
        ++released;
        ASSERT_TRUE(waitUntil([&] { return rig.logLines.filter(" done (").size() == released; }));
    }
    run(std::move(task));
    const auto complete = rig.server.requestsTo("POST", "/api/videos/vid1/complete");
    ASSERT_EQ(complete.size(), 1);
    EXPECT_EQ(complete[0].body, R"({"durationMs":900,"height":2,"parts":[{"etag":"etag-1","partNumber":1},)"
                                R"({"etag":"etag-2","partNumber":2},{"etag":"etag-3","partNumber":3}],"width":4})");
    EXPECT_EQ(rig.logLines.filter(" done ("),
              (QStringList{"upload vid1: part 3/3 done (5 bytes)", "upload vid1: part 1/3 done (10 bytes)",
                           "upload vid1: part 2/3 done (10 bytes)"}));
    EXPECT_EQ(rig.server.uploadedBytes(), rig.fileBytes(file));
}

TEST(Upload, APartIsTriedThreeTimesWithGrowingWaits)
{
    // Part 2 of 3 fails `failures` times in the given way.
    const struct {
        const char *what;
        int failures;
        ScriptedReply reply;
        const char *failure; // empty: the upload succeeds
    } cases[] = {
        {"fails twice", 2, ScriptedReply::json(502, "busy"), ""},
        {"fails always", 99, ScriptedReply::json(503, R"({"error":"down"})"),
         "Server returned 503: {\"error\":\"down\"}"},
        {"connection drops", 99, ScriptedReply::drop(), "*"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ServiceRig rig;
        int failed = 0;
        rig.server.script = [&](const RecordedRequest &r) -> std::optional<ScriptedReply> {
            if (r.path != "/api/videos/vid1/parts/2" || failed == c.failures)
                return std::nullopt;
            ++failed;
            return c.reply;
        };
        const QString file = rig.makeFile(25);
        const QString failure = failureText(rig.uploader->uploadFile(job(file), {}));
        EXPECT_EQ(rig.server.requestsTo("PUT", "/api/videos/vid1/parts/2").size(), 3);
        if (*c.failure == 0) {
            EXPECT_EQ(failure, QString());
            EXPECT_EQ(rig.retryWaits, (QList<int>{0, 1}));
            EXPECT_EQ(rig.logLines.filter("part 2/3 done").size(), 1);
            EXPECT_EQ(rig.server.uploadedBytes(), rig.fileBytes(file));
        } else {
            EXPECT_TRUE(*c.failure == '*' ? failure.endsWith('.') : failure == QString::fromUtf8(c.failure))
                << failure.toStdString();
            EXPECT_EQ(rig.retryWaits, (QList<int>{0, 1, 2}));
            EXPECT_TRUE(rig.server.requestsTo("POST", "/api/videos/vid1/complete").isEmpty());
            EXPECT_EQ(rig.uploader->partBodiesHeld(), 0);
        }
    }
    // The waits a user's upload takes between tries.
    const UploaderTimings timings;
    EXPECT_EQ(timings.retryWait(0), std::chrono::seconds(2));
    EXPECT_EQ(timings.retryWait(1), std::chrono::seconds(4));
    EXPECT_EQ(timings.retryWait(2), std::chrono::seconds(6));
}

TEST(Upload, AFailedPartStopsTheOthersAndStartsNoMore)
{
    UploaderTimings timings = ServiceRig::fastTimings();
    timings.retryWait = [](int) { return std::chrono::milliseconds(0); };
    ServiceRig rig(timings);
    rig.server.script = [&](const RecordedRequest &r) -> std::optional<ScriptedReply> {
        if (r.path == "/api/videos/vid1/parts/1")
            return ScriptedReply::json(500, "no");
        return holdParts(r);
    };
    expectFailure<UploadError>(rig.uploader->uploadFile(job(rig.makeFile(100)), {}));
    // Parts 2 and 3 were held and then abandoned; nothing beyond them started.
    EXPECT_EQ(partPaths(rig.server).count("4"), 0);
    EXPECT_TRUE(rig.server.requestsTo("POST", "/api/videos/vid1/complete").isEmpty());
}

TEST(Upload, CancelEndsARetryWaitOrPartsInFlightAtOnce)
{
    UploaderTimings timings = ServiceRig::fastTimings();
    timings.retryWait = [](int) { return std::chrono::seconds(30); };
    for (const bool inWait : {true, false}) {
        SCOPED_TRACE(inWait ? "in a retry wait" : "parts in flight");
        ServiceRig rig(timings);
        rig.server.script = [&](const RecordedRequest &r) -> std::optional<ScriptedReply> {
            if (inWait && r.path == "/api/videos/vid1/parts/1")
                return ScriptedReply::json(500, "retry me");
            return inWait ? std::nullopt : holdParts(r);
        };
        auto cancel = std::make_shared<UploadCancellation>();
        auto task = rig.uploader->uploadFile(job(rig.makeFile(inWait ? 25 : 50)), {}, cancel);
        // All three parts must have reached the server before the cancel, or the count below races.
        ASSERT_TRUE(waitUntil([&] {
            return inWait ? rig.retryWaits.size() == 1 && partPaths(rig.server).size() == 3
                          : rig.server.heldPaths().size() == 3;
        }));
        QElapsedTimer clock;
        clock.start();
        cancel->cancel();
        EXPECT_TRUE(expectFailure<TransportError>(std::move(task)).isCancellation());
        EXPECT_LT(clock.elapsed(), 5000) << "the 30 s wait was not cut short";
        EXPECT_EQ(rig.server.requestsTo("PUT", "/api/videos/vid1/parts/1").size(), 1);
        EXPECT_EQ(partPaths(rig.server).size(), 3);
        EXPECT_EQ(rig.retryWaits.size(), inWait ? 1 : 0);
        EXPECT_TRUE(rig.server.requestsTo("POST", "/api/videos/vid1/complete").isEmpty());
        EXPECT_EQ(rig.uploader->partBodiesHeld(), 0);
    }
}

TEST(Upload, WhatCannotBeUploadedStopsEarly)
{
    for (const qint64 partSize : {qint64(0), qint64(-1)}) {
        ServiceRig rig;
        rig.server.partSize = partSize;
        const UploadError e = expectFailure<UploadError>(rig.uploader->uploadFile(job(rig.makeFile(5)), {}));
        EXPECT_EQ(e.kind(), UploadError::Kind::badResponse) << partSize;
        EXPECT_EQ(rig.server.requests.size(), 1);
    }
    ServiceRig rig;
    expectFailure<FileAccessError>(rig.uploader->uploadFile(job(rig.dir.filePath("missing.mp4")), {}));
    EXPECT_TRUE(rig.server.requests.isEmpty());
    rig.server.script = [](const RecordedRequest &) { return ScriptedReply::json(200, R"({"id":"vid1"})"); };
    expectFailure<ReplyDecodingError>(rig.uploader->uploadFile(job(rig.makeFile(5)), {}));
    EXPECT_EQ(rig.server.requests.size(), 1);

    // A file that shrinks after the create: the part that cannot be read is not retried.
    ServiceRig shrinking;
    const QString file = shrinking.makeFile(25);
    shrinking.server.script = [&](const RecordedRequest &r) -> std::optional<ScriptedReply> {
        if (r.path == "/api/videos")
            QFile::resize(file, 15);
        return std::nullopt;
    };
    EXPECT_EQ(failureText(shrinking.uploader->uploadFile(job(file), {})), "Could not read the recording file.");
    EXPECT_TRUE(shrinking.server.requestsTo("POST", "/api/videos/vid1/complete").isEmpty());
    EXPECT_TRUE(shrinking.retryWaits.isEmpty());
}
