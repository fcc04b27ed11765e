// Strict reply decoding, request bodies, error texts and the part plan.
#include "service/PartPlan.h"
#include "service/ServiceErrors.h"
#include "service/WireBodies.h"
#include "service/WireDecoding.h"

#include <gtest/gtest.h>

namespace {

template <typename Record> QString decodeFailure(const QByteArray &body)
{
    try {
        decodeReply<Record>(body);
    } catch (const ReplyDecodingError &e) {
        return e.description();
    }
    return QStringLiteral("decoded");
}

} // namespace

TEST(WireDecoding, ReadsEveryRecordAndIgnoresUnknownKeys)
{
    const CreateResponse c = decodeReply<CreateResponse>(
        R"({"id":"a1","partSize":8388608,"shareUrl":"https://x/v/a1","expiresAt":1767225600123,"extra":[1]})");
    EXPECT_EQ(c.id, "a1");
    EXPECT_EQ(c.partSize, 8388608);
    EXPECT_EQ(c.shareUrl, "https://x/v/a1");
    EXPECT_EQ(c.expiresAtMs, 1767225600123);

    const PartResponse p = decodeReply<PartResponse>(R"({"partNumber":7,"etag":"\"abc\""})");
    EXPECT_EQ(p.partNumber, 7);
    EXPECT_EQ(p.etag, "\"abc\"");

    const VideoInfo v = decodeReply<VideoInfo>(R"({"id":"a1","shareUrl":"s","expiresAt":9223372036854775807})");
    EXPECT_EQ(v.expiresAtMs, std::numeric_limits<qint64>::max());

    EXPECT_EQ(decodeReply<KeepResponse>(R"({"id":"a1","expiresAt":-5})").expiresAtMs, -5);
    EXPECT_EQ(decodeReply<TitleResponse>(R"({"id":"a1","title":"Démo"})").title, QStringLiteral("Démo"));
}

TEST(WireDecoding, ListItemTitleIsOptionalButTyped)
{
    const VideoList list =
        decodeReply<VideoList>(R"({"videos":[{"id":"a","expiresAt":1},{"id":"b","expiresAt":2,"title":null},)"
                               R"({"id":"c","expiresAt":3,"title":""},{"id":"d","expiresAt":4,"title":"Demo"}]})");
    ASSERT_EQ(list.videos.size(), 4);
    EXPECT_FALSE(list.videos[0].title.has_value());
    EXPECT_FALSE(list.videos[1].title.has_value());
    EXPECT_EQ(list.videos[2].title, QString());
    EXPECT_EQ(list.videos[3].title, QStringLiteral("Demo"));

    EXPECT_EQ(decodeReply<VideoList>(R"({"videos":[]})").videos.size(), 0);
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
        decodeFailure<TitleResponse>(""),
        decodeFailure<TitleResponse>("null"),
        decodeFailure<TitleResponse>("[]"),
        decodeFailure<TitleResponse>("{\"id\":"),
        decodeFailure<TitleResponse>("{\"title\":\"a\",\"id\":\"b\"} trailing"),
        decodeFailure<TitleResponse>("<html>"),
    };
    for (const QString &failure : failures)
        EXPECT_TRUE(failure.startsWith(QStringLiteral("The server's reply could not be read: ")))
            << &failure - failures;
}

TEST(UploadErrorText, TheThreeCasesReadAsDesigned)
{
    EXPECT_EQ(UploadError::badResponse().description(), QStringLiteral("Unexpected response from server."));
    EXPECT_EQ(UploadError::http(418, "%1 %2").description(), QStringLiteral("Server returned 418: %1 %2"));
}

TEST(UploadErrorText, ExcerptIsTheFirst300BytesOrNothing)
{
    const QByteArray ascii = QByteArray(299, 'x') + "yz";
    EXPECT_EQ(UploadError::excerpt(ascii), QString(QByteArray(299, 'x') + "y"));

    // 299 ASCII bytes, then "é" (2 bytes) straddles the cut.
    EXPECT_EQ(UploadError::excerpt(QByteArray(299, 'x') + "\xC3\xA9"), QString());

    // 298 + "é" ends exactly at the cut: valid.
    const QByteArray fits = QByteArray(298, 'x') + "\xC3\xA9" + "tail";
    EXPECT_EQ(UploadError::excerpt(fits), QString::fromUtf8(QByteArray(298, 'x') + "\xC3\xA9"));

    // A 4-byte character cut after 1, 2 or 3 of its bytes.
    for (int keep = 1; keep <= 3; ++keep)
        EXPECT_EQ(UploadError::excerpt(QByteArray(300 - keep, 'x') + "\xF0\x9F\x8E\xA5"), QString()) << keep;

    // Not UTF-8 at all, overlong forms and encoded surrogates.
    EXPECT_EQ(UploadError::excerpt("abc\xFF"), QString());
    EXPECT_EQ(UploadError::excerpt("\xC0\xAF"), QString());
    EXPECT_EQ(UploadError::excerpt("\xED\xA0\x80"), QString());
    EXPECT_EQ(UploadError::excerpt("short body"), QStringLiteral("short body"));
}

TEST(WireBodies, CompleteListsPartsInOrderWithTheServicesOwnTags)
{
    QMap<qint64, PartResponse> parts;
    // Inserted as they finished: 3, 1, 2; the service numbered them its own way.
    parts.insert(3, PartResponse{30, "c"});
    parts.insert(1, PartResponse{10, "a"});
    parts.insert(2, PartResponse{20, "b"});
    EXPECT_EQ(WireBodies::complete(parts, std::nullopt, std::nullopt, std::nullopt),
              R"({"parts":[{"etag":"a","partNumber":10},{"etag":"b","partNumber":20},{"etag":"c","partNumber":30}]})");
    const QByteArray withFrame = WireBodies::complete(parts, qint64(5000), 640, 480);
    EXPECT_TRUE(withFrame.contains("\"durationMs\":5000"));
    EXPECT_FALSE(withFrame.contains("title"));
    EXPECT_FALSE(withFrame.contains("lifetime"));
}

TEST(PartPlan, SlicesCoverTheFileExactly)
{
    EXPECT_EQ(PartPlan(25, 10).slices(), (QList<PartSlice>{{1, 0, 10}, {2, 10, 10}, {3, 20, 5}}));
    EXPECT_EQ(PartPlan(11, 10).slices(), (QList<PartSlice>{{1, 0, 10}, {2, 10, 1}}));
    EXPECT_EQ(PartPlan(20, 10).slices(), (QList<PartSlice>{{1, 0, 10}, {2, 10, 10}}));
    // Computed on demand: a one-byte part size on a huge file costs nothing.
    const PartPlan huge(qint64(1) << 40, 1);
    EXPECT_EQ(huge.count(), qint64(1) << 40);
    EXPECT_EQ(huge.at(huge.count() - 1), (PartSlice{qint64(1) << 40, (qint64(1) << 40) - 1, 1}));
}
