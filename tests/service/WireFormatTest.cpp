// Strict reply decoding, request bodies, error texts and the part plan.
#include "service/PartPlan.h"
#include "service/ServiceErrors.h"
#include "service/WireBodies.h"
#include "service/WireDecoding.h"

#include "Await.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

namespace {

template <typename Record> QString decodeFailure(const QByteArray &body)
{
    return failureText([&] { decodeReply<Record>(body); });
}

} // namespace

TEST(WireDecoding, ReadsEveryRecordAndIgnoresUnknownKeys)
{
    const CreateResponse c = decodeReply<CreateResponse>(
        R"({"id":"a1","partSize":8388608,"shareUrl":"https://x/v/a1","expiresAt":1767225600123,"extra":[1]})");
    EXPECT_EQ(std::tie(c.id, c.partSize, c.shareUrl, c.expiresAtMs),
              std::make_tuple(QString("a1"), qint64(8388608), QString("https://x/v/a1"), qint64(1767225600123)));
    const PartResponse p = decodeReply<PartResponse>(R"({"partNumber":7,"etag":"\"abc\""})");
    EXPECT_EQ(std::tie(p.partNumber, p.etag), std::make_tuple(qint64(7), QString("\"abc\"")));
    const VideoInfo v = decodeReply<VideoInfo>(R"({"id":"a1","shareUrl":"s","expiresAt":9223372036854775807})");
    EXPECT_EQ(std::tie(v.id, v.shareUrl, v.expiresAtMs),
              std::make_tuple(QString("a1"), QString("s"), std::numeric_limits<qint64>::max()));
    EXPECT_EQ(decodeReply<KeepResponse>(R"({"id":"a1","expiresAt":-5})").expiresAtMs, -5);
    EXPECT_EQ(decodeReply<TitleResponse>(R"({"id":"a1","title":"Démo"})").title, QStringLiteral("Démo"));

    // A list item's title may be missing or null, but when there it is text.
    const VideoList list =
        decodeReply<VideoList>(R"({"videos":[{"id":"a","expiresAt":1},{"id":"b","expiresAt":2,"title":null},)"
                               R"({"id":"c","expiresAt":3,"title":""},{"id":"d","expiresAt":4,"title":"Demo"}]})");
    QStringList items;
    for (const VideoList::Item &item : list.videos)
        items << QStringLiteral("%1 %2 %3").arg(item.id).arg(item.expiresAtMs).arg(item.title.value_or("(none)"));
    EXPECT_EQ(items, (QStringList{"a 1 (none)", "b 2 (none)", "c 3 ", "d 4 Demo"}));
}

TEST(WireDecoding, AnythingButTheRecordFails)
{
    EXPECT_EQ(decodeFailure<VideoList>(R"({"videos":[{"id":"a","expiresAt":1},{"id":"b"}]})"),
              QStringLiteral("The server's reply could not be read: the key \"expiresAt\" is missing."));
    EXPECT_EQ(decodeFailure<CreateResponse>(R"({"id":"a","partSize":"10","shareUrl":"s","expiresAt":1})"),
              QStringLiteral("The server's reply could not be read: the key \"partSize\" holds a string instead of a "
                             "64-bit integer."));
    // One bad item fails the whole list; integers must be whole and fit in 64
    // bits; a required key may not be missing or null; a string is no number;
    // the body is one JSON object and nothing else.
    const QString failures[] = {
        decodeFailure<VideoList>(R"({"videos":[{"id":"a","expiresAt":1,"title":5}]})"),
        decodeFailure<VideoList>(R"({"videos":[{"id":"a","expiresAt":1},"b"]})"),
        decodeFailure<VideoList>(R"({"videos":{}})"),
        decodeFailure<VideoList>(R"({})"),
        decodeFailure<CreateResponse>(R"({"id":"a","shareUrl":"s","expiresAt":1})"),
        decodeFailure<CreateResponse>(R"({"id":"a","partSize":10.5,"shareUrl":"s","expiresAt":1})"),
        decodeFailure<CreateResponse>(R"({"id":"a","partSize":1e30,"shareUrl":"s","expiresAt":1})"),
        decodeFailure<CreateResponse>(R"({"id":"a","partSize":true,"shareUrl":"s","expiresAt":1})"),
        decodeFailure<PartResponse>(R"({"partNumber":1,"etag":null})"),
        decodeFailure<VideoInfo>(R"({"id":5,"shareUrl":"s","expiresAt":1})"),
        decodeFailure<TitleResponse>(R"({"id":"a"})"),
        decodeFailure<KeepResponse>(R"({"expiresAt":1})"),
        decodeFailure<TitleResponse>("null"),
        decodeFailure<TitleResponse>("[]"),
        decodeFailure<TitleResponse>("{\"id\":"),
        decodeFailure<TitleResponse>("{\"title\":\"a\",\"id\":\"b\"} trailing"),
    };
    for (const QString &failure : failures)
        EXPECT_TRUE(failure.startsWith(QStringLiteral("The server's reply could not be read: ")))
            << &failure - failures;
}

TEST(UploadErrorText, ExcerptIsTheFirst300BytesOrNothing)
{
    const QByteArray x298(298, 'x'), x299(299, 'x');
    const struct {
        QByteArray body;
        QString excerpt;
    } cases[] = {
        {x299 + "yz", QString(x299 + "y")},
        {x299 + "\xC3\xA9", {}},                                       // "é" straddles the cut
        {x298 + "\xC3\xA9tail", QString::fromUtf8(x298 + "\xC3\xA9")}, // "é" ends at the cut
        // A 4-byte character cut after 1, 2 or 3 of its bytes.
        {x299 + "\xF0\x9F\x8E\xA5", {}},
        {x298 + "\xF0\x9F\x8E\xA5", {}},
        {QByteArray(297, 'x') + "\xF0\x9F\x8E\xA5", {}},
        // Not UTF-8 at all, overlong forms and encoded surrogates.
        {"abc\xFF", {}},
        {"\xC0\xAF", {}},
        {"\xED\xA0\x80", {}},
        {"short body", QStringLiteral("short body")},
    };
    for (const auto &c : cases)
        EXPECT_EQ(UploadError::excerpt(c.body), c.excerpt) << &c - cases;
}

TEST(WireBodies, OnlyTheFactsGivenAndPartsInOrderWithTheServicesOwnNumbers)
{
    EXPECT_EQ(WireBodies::create(QStringLiteral("Demo"), std::nullopt, std::nullopt, std::nullopt, std::nullopt),
              R"({"contentType":"video/mp4","title":"Demo"})");
    EXPECT_EQ(
        WireBodies::create(QStringLiteral("T"), 1234, 1280, 720, Lifetime::forever()),
        R"({"contentType":"video/mp4","durationMs":1234,"height":720,"lifetime":"forever","title":"T","width":1280})");
    QMap<qint64, PartResponse> parts;
    // Inserted as they finished: 3, 1, 2; the service numbered them its own way.
    parts.insert(3, PartResponse{30, "c"});
    parts.insert(1, PartResponse{10, "a"});
    parts.insert(2, PartResponse{20, "b"});
    EXPECT_EQ(WireBodies::complete(parts, std::nullopt, std::nullopt, std::nullopt),
              R"({"parts":[{"etag":"a","partNumber":10},{"etag":"b","partNumber":20},{"etag":"c","partNumber":30}]})");
}

TEST(PartPlan, SlicesAreComputedOnDemand)
{
    // A one-byte part size on a huge file costs nothing; the slices of small
    // files are checked byte for byte by the uploads in MultipartUploadTest.
    const PartPlan huge(qint64(1) << 40, 1);
    EXPECT_EQ(huge.count(), qint64(1) << 40);
    EXPECT_EQ(huge.at(huge.count() - 1), (PartSlice{qint64(1) << 40, (qint64(1) << 40) - 1, 1}));
}
