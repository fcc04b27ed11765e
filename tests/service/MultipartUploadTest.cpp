// The upload algorithm: create, single or multipart, the three-part window,
// retries, cancellation, progress and memory.
#include "ServiceRig.h"

#include <algorithm>

namespace {

using Report = QPair<qint64, qint64>;

// Part numbers the server has seen, sorted: parts are started in plan order
// but read in the background, so they may reach the server in any order.
QList<int> partNumbers(const ScriptedServer &server)
{
    QList<int> numbers;
    for (const RecordedRequest &r : server.requestsTo("PUT", "/api/videos/vid1/parts/"))
        numbers.append(r.path.split('/').last().toInt());
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

int completes(const ScriptedServer &server)
{
    return int(server.requestsTo("POST", "/api/videos/vid1/complete").size());
}

std::optional<ScriptedReply> holdParts(const RecordedRequest &r)
{
    if (r.method == "PUT" && r.path.contains("/parts/"))
        return ScriptedReply::hold();
    return std::nullopt;
}

} // namespace

TEST(Upload, EachFileSizeGoesUpWholeByTheRightPath)
{
    // Up to one part (or a part size of 0 for an empty file) goes in one PUT;
    // anything larger in parts with a complete.
    const struct {
        qint64 size, partSize;
        int parts;
    } cases[] = {
        {0, 0, 0}, {10, 10, 0}, {11, 10, 2}, {20, 10, 2}, {25, 10, 3}, {1000000, 64 * 1024, 16}, {3000000, 8000000, 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(QStringLiteral("%1 in %2").arg(c.size).arg(c.partSize).toStdString());
        ServiceRig rig;
        rig.server.partSize = c.partSize;
        const QString file = rig.makeFile(c.size);
        QList<Report> reports;
        run(rig.uploader->uploadFile(UploadJob{file}, [&](qint64 sent, qint64 total) {
            reports.append({sent, total});
        }));
        EXPECT_EQ(rig.server.uploadedBytes(), rig.fileBytes(file));
        EXPECT_TRUE(std::all_of(reports.begin(), reports.end(), [](Report r) { return r.first <= r.second; }));
        EXPECT_TRUE(c.size < 1000 || reports.size() > 1) << "running totals, not only the end";
        EXPECT_EQ(rig.logLines.first(),
                  QStringLiteral("upload vid1: %1 bytes, partSize %2").arg(c.size).arg(c.partSize));
        const auto puts = rig.server.requestsTo("PUT", "/api/videos/vid1");
        EXPECT_EQ(std::make_tuple(puts.size(), puts.value(0).header("Content-Type"), completes(rig.server),
                                  rig.uploader->peakPartBodiesHeld(), reports.last()),
                  std::make_tuple(qsizetype(std::max(c.parts, 1)),
                                  QByteArray(c.parts ? "application/octet-stream" : "video/mp4"), c.parts ? 1 : 0,
                                  std::clamp(c.parts, 1, 3), Report{c.size, c.size}));
    }
}

TEST(Upload, AtMostThreePartsAtOnceFinishingInAnyOrderCompleteInOrder)
{
    ServiceRig rig;
    rig.server.script = holdParts;
    const QString file = rig.makeFile(45);
    auto task = rig.uploader->uploadFile(UploadJob{file, "T", qint64(900), 4, 2, Lifetime::forever()}, {});
    const QList<int> all{1, 2, 3, 4, 5};
    ASSERT_TRUE(waitUntil([&] { return rig.server.held() == 3; }));
    EXPECT_EQ(partNumbers(rig.server), all.mid(0, 3));
    // Each part that finishes lets the next one in, and only that one.
    const struct {
        const char *finishes;
        int started;
    } steps[] = {{"2", 4}, {"3", 5}, {"5", 5}, {"1", 5}, {"4", 5}};
    for (const auto &step : steps) {
        SCOPED_TRACE(step.finishes);
        const qsizetype done = rig.logLines.filter(" done (").size();
        rig.server.release(QByteArray("/api/videos/vid1/parts/") + step.finishes);
        ASSERT_TRUE(waitUntil([&] {
            return rig.logLines.filter(" done (").size() > done && partNumbers(rig.server).size() == step.started;
        }));
        EXPECT_EQ(partNumbers(rig.server), all.mid(0, step.started));
    }
    run(std::move(task));
    EXPECT_EQ(std::make_pair(rig.uploader->peakPartBodiesHeld(), rig.uploader->partBodiesHeld()), std::make_pair(3, 0));
    EXPECT_EQ(rig.server.uploadedBytes(), rig.fileBytes(file));
    EXPECT_EQ(rig.server.requests[0].body, R"({"contentType":"video/mp4","durationMs":900,"height":2,)"
                                           R"("lifetime":"forever","title":"T","width":4})");
    // Neither the title nor the lifetime: those went with the create.
    EXPECT_EQ(describe(rig.server.requestsTo("POST", "/api/videos/vid1/complete")),
              QStringList{R"(POST /api/videos/vid1/complete [application/json] {"durationMs":900,"height":2,"parts":[)"
                          R"({"etag":"etag-1","partNumber":1},{"etag":"etag-2","partNumber":2},)"
                          R"({"etag":"etag-3","partNumber":3},{"etag":"etag-4","partNumber":4},)"
                          R"({"etag":"etag-5","partNumber":5}],"width":4})"});
}

TEST(Upload, APartIsTriedThreeTimesWithGrowingWaits)
{
    // The second of three parts fails `failures` times in the given way.
    const struct {
        const char *what;
        int failures;
        ScriptedReply reply;
        const char *failure; // empty: the upload succeeds; "*": any sentence
        QList<int> waits; // ms
    } cases[] = {
        {"fails twice", 2, ScriptedReply::json(502, "busy"), "", {20, 40}},
        {"fails always",
         99,
         ScriptedReply::json(503, R"({"error":"down"})"),
         "Server returned 503: {\"error\":\"down\"}",
         {20, 40, 60}},
        {"connection drops", 99, ScriptedReply::drop(), "*", {20, 40, 60}},
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
        const QString failure = failureText(rig.uploader->uploadFile(UploadJob{file}, {}));
        EXPECT_TRUE(*c.failure == '*' ? failure.endsWith('.') : failure == QString::fromUtf8(c.failure))
            << failure.toStdString();
        EXPECT_EQ(std::make_tuple(rig.server.requestsTo("PUT", "/api/videos/vid1/parts/2").size(), rig.retryWaitMs,
                                  completes(rig.server), rig.uploader->partBodiesHeld()),
                  std::make_tuple(qsizetype(3), c.waits, *c.failure ? 0 : 1, 0));
        EXPECT_TRUE(*c.failure || rig.server.uploadedBytes() == rig.fileBytes(file)) << "the retried part differs";
    }
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
    EXPECT_EQ(failureText(rig.uploader->uploadFile(UploadJob{rig.makeFile(100)}, {})), "Server returned 500: no");
    // Parts 2 and 3 were held and then abandoned; nothing beyond them started.
    EXPECT_EQ(partNumbers(rig.server).count(4), 0);
    EXPECT_EQ(completes(rig.server), 0);
}

TEST(Upload, CancelEndsARetryWaitOrPartsInFlightAtOnce)
{
    UploaderTimings timings = ServiceRig::fastTimings();
    // Far longer than any test runs: only the cancel can end it.
    timings.retryWait = [](int) { return std::chrono::hours(1); };
    for (const bool inWait : {true, false}) {
        SCOPED_TRACE(inWait ? "in a retry wait" : "parts in flight");
        ServiceRig rig(timings);
        rig.server.script = [&](const RecordedRequest &r) -> std::optional<ScriptedReply> {
            if (inWait && r.path == "/api/videos/vid1/parts/1")
                return ScriptedReply::json(500, "retry me");
            return inWait ? std::nullopt : holdParts(r);
        };
        auto cancel = std::make_shared<UploadCancellation>();
        auto task = rig.uploader->uploadFile(UploadJob{rig.makeFile(inWait ? 25 : 50)}, {}, cancel);
        // All three parts must have reached the server before the cancel, or the count below races.
        ASSERT_TRUE(waitUntil([&] {
            return inWait ? rig.retryWaits.size() == 1 && partNumbers(rig.server).size() == 3 : rig.server.held() == 3;
        }));
        cancel->cancel();
        ASSERT_TRUE(waitUntil([&] { return task.isReady(); }, 60000)) << "the cancel did not end the upload";
        EXPECT_TRUE(expectFailure<TransportError>(std::move(task)).isCancellation());
        // Parts sent, waits (a cancelled part is not tried again), completes, bodies still held.
        EXPECT_EQ(std::make_tuple(partNumbers(rig.server), rig.retryWaits, completes(rig.server),
                                  rig.uploader->partBodiesHeld()),
                  std::make_tuple(QList<int>{1, 2, 3}, inWait ? QList<int>{0} : QList<int>{}, 0, 0));
    }
}

TEST(Upload, WhatCannotBeUploadedStopsEarly)
{
    for (const qint64 partSize : {qint64(0), qint64(-1)}) {
        ServiceRig rig;
        rig.server.partSize = partSize;
        EXPECT_EQ(failureText(rig.uploader->uploadFile(UploadJob{rig.makeFile(5)}, {})),
                  "Unexpected response from server.");
        EXPECT_EQ(rig.server.requests.size(), 1);
    }
    ServiceRig rig;
    EXPECT_EQ(failureText(rig.uploader->uploadFile(UploadJob{rig.dir.filePath("missing.mp4")}, {})),
              "Could not open the recording file: No such file.");
    EXPECT_TRUE(rig.server.requests.isEmpty());

    // A file that shrinks after the create: the part that cannot be read is not retried.
    ServiceRig shrinking;
    const QString file = shrinking.makeFile(25);
    shrinking.server.script = [&](const RecordedRequest &r) -> std::optional<ScriptedReply> {
        if (r.path == "/api/videos")
            QFile::resize(file, 15);
        return std::nullopt;
    };
    EXPECT_EQ(failureText(shrinking.uploader->uploadFile(UploadJob{file}, {})), "Could not read the recording file.");
    EXPECT_EQ(completes(shrinking.server), 0);
    EXPECT_TRUE(shrinking.retryWaits.isEmpty());
}
