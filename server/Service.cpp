#include "Service.h"

#include "CrashPoint.h"
#include "Crypto.h"
#include "Json.h"
#include "Log.h"
#include "base/LifetimeBounds.h"

#include <cerrno>
#include <charconv>
#include <map>
#include <unordered_map>

namespace {

using json::Value;

Reply jsonReply(int status, const Value &v)
{
    Reply r;
    r.status = status;
    r.body = json::serialize(v);
    return r;
}

Reply notFound()
{
    return errorReply(404, "no such video");
}

// A request body decoded as a JSON object, or the 400/413 reply saying why not.
struct BodyObject {
    std::optional<Value> value;
    std::optional<Reply> failure;
};

BodyObject parseBody(std::string_view body, std::size_t limit = limits::kMaxJsonBodyBytes)
{
    BodyObject out;
    if (body.size() > limit) {
        out.failure = errorReply(413, "JSON body larger than " + std::to_string(limit) + " bytes");
        return out;
    }
    json::ParseResult parsed = json::parse(body);
    if (!parsed.value) {
        out.failure = errorReply(400, "malformed JSON: " + parsed.error);
        return out;
    }
    if (!parsed.value->isObject()) {
        out.failure = errorReply(400, "the body must be a JSON object");
        return out;
    }
    out.value = std::move(parsed.value);
    return out;
}

// Reads an optional non-negative integer member; null counts as absent.
bool optionalCount(const Value &obj, const char *key, std::optional<std::int64_t> &out, std::optional<Reply> &failure)
{
    const Value *v = obj.find(key);
    if (!v || v->isNull())
        return true;
    if (!v->isInteger() || v->asInteger() < 0) {
        failure = errorReply(400, std::string("\"") + key + "\" must be a non-negative integer");
        return false;
    }
    out = v->asInteger();
    return true;
}

bool requiredTitle(const Value &obj, std::string &out, std::optional<Reply> &failure)
{
    const Value *v = obj.find("title");
    if (!v) {
        failure = errorReply(400, "\"title\" is missing");
        return false;
    }
    if (!v->isString()) {
        failure = errorReply(400, "\"title\" must be a string");
        return false;
    }
    if (json::codePointCount(v->asString()) > limits::kMaxTitleChars) {
        failure = errorReply(400, "\"title\" is longer than " + std::to_string(limits::kMaxTitleChars) + " characters");
        return false;
    }
    out = v->asString();
    return true;
}

// A lifetime on the wire: integer seconds within the shared bounds, or "forever".
// Returns the expiry it gives from nowMs.
bool lifetimeExpiry(const Value &v, std::int64_t nowMs, std::int64_t &expiresAtMs, std::optional<Reply> &failure)
{
    if (v.isString() && v.asString() == "forever") {
        expiresAtMs = kForeverExpiresAtMs;
        return true;
    }
    if (v.isInteger() && v.asInteger() >= LifetimeBounds::kMinimumSeconds &&
        v.asInteger() <= LifetimeBounds::kMaximumSeconds) {
        expiresAtMs = nowMs + v.asInteger() * 1000;
        return true;
    }
    failure =
        errorReply(400, "\"lifetime\" must be an integer from " + std::to_string(LifetimeBounds::kMinimumSeconds) +
                            " to " + std::to_string(LifetimeBounds::kMaximumSeconds) + " seconds or \"forever\"");
    return false;
}

// "1" to "10000" exactly: no sign, no leading zeros, no spaces.
std::optional<int> parsePartNumber(const std::string &text)
{
    if (text.empty() || text.size() > 5 || text[0] == '0')
        return std::nullopt;
    int n = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        n = n * 10 + (c - '0');
    }
    if (n < 1 || n > limits::kMaxPartNumber)
        return std::nullopt;
    return n;
}

Reply badPartNumber()
{
    return errorReply(400, "the part number must be an integer from 1 to " + std::to_string(limits::kMaxPartNumber));
}

// An MP4 begins with its file-type box: a 32-bit size, then "ftyp".
constexpr std::size_t kMp4HeadBytes = 8;
bool isMp4Head(std::string_view head)
{
    return head.size() >= kMp4HeadBytes && head.substr(4, 4) == "ftyp";
}

Reply notMp4()
{
    return errorReply(415, "only MP4 videos are accepted: the file does not begin with an MP4 \"ftyp\" box");
}

Reply alreadyComplete()
{
    return errorReply(409, "this video's upload is already complete");
}

} // namespace

Reply errorReply(int status, const std::string &reason)
{
    json::Object o;
    o.emplace("error", reason);
    return jsonReply(status, Value(std::move(o)));
}

Service::Service(std::unique_ptr<Metadata> metadata, std::unique_ptr<Storage> storage, const Clock &clock,
                 ServiceOptions options)
    : m_metadata(std::move(metadata)), m_storage(std::move(storage)), m_clock(clock), m_options(std::move(options)),
      m_posterThread([this] { posterLoop(); })
{
}

Service::~Service()
{
    {
        std::lock_guard lock(m_posterMutex);
        m_posterStop = true;
    }
    m_posterWake.notify_all();
    m_posterThread.join();
}

bool Service::isWellFormedToken(std::string_view token)
{
    if (token.size() < limits::kMinTokenChars || token.size() > limits::kMaxTokenChars)
        return false;
    for (const char c : token) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                        c == '_' || c == '.' || c == '~';
        if (!ok)
            return false;
    }
    return true;
}

std::string Service::ownerOf(std::string_view token)
{
    return crypto::sha256Hex(token);
}

bool Service::isGone(const VideoRow &row, std::int64_t nowMs) const
{
    if (row.expiresAtMs <= nowMs)
        return true;
    return row.state == VideoState::Uploading && row.createdAtMs + m_options.uploadTimeoutMs <= nowMs;
}

namespace {
std::string partKey(const std::string &id, int number)
{
    return id + "#" + std::to_string(number);
}
} // namespace

std::optional<VideoRow> Service::ownedVideo(const std::string &owner, const std::string &id)
{
    if (!crypto::isVideoId(id))
        return std::nullopt;
    std::optional<VideoRow> row = m_metadata->findVideo(id);
    // Another device's video answers exactly as an unknown one does.
    if (!row || row->owner != owner || isGone(*row, m_clock.nowMs()))
        return std::nullopt;
    return row;
}

Reply Service::videoInfo(const VideoRow &row) const
{
    json::Object o;
    o.emplace("id", row.id);
    o.emplace("shareUrl", shareUrl(row.id));
    o.emplace("expiresAt", row.expiresAtMs);
    return jsonReply(200, Value(std::move(o)));
}

void Service::removeEverything(const std::string &id)
{
    // The row goes first: a crash after it leaves files without a row, which
    // start-up removes, never a row pointing at missing files.
    m_metadata->deleteVideo(id);
    m_storage->removeMedia(id);
    m_storage->removeUpload(id);
}

std::size_t Service::maxCompleteBodyBytes() const
{
    const std::int64_t parts = std::min<std::int64_t>(
        limits::kMaxPartNumber, (m_options.maxVideoBytes + m_options.partSize - 1) / m_options.partSize);
    return limits::kMaxJsonBodyBytes + std::size_t(parts) * limits::kCompleteBytesPerPart;
}

std::optional<Reply> Service::quotaFailure(const std::string &owner, std::uint64_t incomingBytes, bool newUpload)
{
    const Usage used = m_metadata->usage(owner);
    if (newUpload && used.uploading >= m_options.maxUploadsPerDevice)
        return errorReply(429, "this device has " + std::to_string(used.uploading) +
                                   " uploads in progress; finish or delete one first");
    if (newUpload && used.videos >= m_options.maxVideosPerDevice)
        return errorReply(507, "this device keeps " + std::to_string(used.videos) +
                                   " videos, the most allowed; delete some first");
    if (std::uint64_t(used.bytes) + incomingBytes > std::uint64_t(m_options.maxBytesPerDevice))
        return errorReply(507, "this device's videos would take more than " +
                                   std::to_string(m_options.maxBytesPerDevice) + " bytes; delete some first");
    const std::optional<std::uint64_t> free = m_storage->freeBytes();
    if (free && *free < std::uint64_t(m_options.diskReserveBytes) + incomingBytes)
        return errorReply(507, "the service is short of disk space; try again later");
    return std::nullopt;
}

Reply Service::create(const std::string &owner, std::string_view body)
{
    BodyObject parsed = parseBody(body);
    if (parsed.failure)
        return *parsed.failure;
    const Value &obj = *parsed.value;
    std::optional<Reply> failure;

    VideoRow row;
    if (!requiredTitle(obj, row.title, failure))
        return *failure;
    if (const Value *ct = obj.find("contentType"); ct && !ct->isNull()) {
        if (!ct->isString())
            return errorReply(400, "\"contentType\" must be a string");
        if (ct->asString() != "video/mp4")
            return errorReply(415, "only \"video/mp4\" is accepted");
    }
    if (!optionalCount(obj, "durationMs", row.durationMs, failure) ||
        !optionalCount(obj, "width", row.width, failure) || !optionalCount(obj, "height", row.height, failure))
        return *failure;

    const std::int64_t now = m_clock.nowMs();
    row.expiresAtMs = now + LifetimeBounds::kDefaultSeconds * 1000;
    if (const Value *lt = obj.find("lifetime"); lt && !lt->isNull())
        if (!lifetimeExpiry(*lt, now, row.expiresAtMs, failure))
            return *failure;

    if (std::optional<Reply> refused = quotaFailure(owner, 0, true))
        return *refused;
    row.id = crypto::newVideoId();
    row.owner = owner;
    row.state = VideoState::Uploading;
    row.createdAtMs = now;
    row.partSize = m_options.partSize;
    m_metadata->insertVideo(row);

    json::Object o;
    o.emplace("id", row.id);
    o.emplace("partSize", row.partSize);
    o.emplace("shareUrl", shareUrl(row.id));
    o.emplace("expiresAt", row.expiresAtMs);
    return jsonReply(201, Value(std::move(o)));
}

Reply Service::list(const std::string &owner, std::string_view limitText, std::string_view afterText)
{
    std::size_t limit = limits::kDefaultListPage;
    if (!limitText.empty()) {
        std::size_t n = 0;
        auto [ptr, ec] = std::from_chars(limitText.data(), limitText.data() + limitText.size(), n);
        if (ec != std::errc() || ptr != limitText.data() + limitText.size() || n < 1 || n > limits::kMaxListPage)
            return errorReply(400, "\"limit\" must be an integer from 1 to " + std::to_string(limits::kMaxListPage));
        limit = n;
    }
    // The cursor is "<createdAt>.<id>" of the last video of the page before.
    std::optional<ListCursor> after;
    if (!afterText.empty()) {
        const std::size_t dot = afterText.find('.');
        ListCursor c;
        const char *end = afterText.data() + (dot == std::string_view::npos ? 0 : dot);
        auto [ptr, ec] = std::from_chars(afterText.data(), end, c.createdAtMs);
        if (dot == std::string_view::npos || ec != std::errc() || ptr != end ||
            !crypto::isVideoId(std::string(afterText.substr(dot + 1))))
            return errorReply(400, "\"after\" must be the \"next\" of the page before");
        c.id = std::string(afterText.substr(dot + 1));
        after = std::move(c);
    }
    // One more than asked tells whether another page follows.
    std::vector<VideoRow> rows = m_metadata->listReady(owner, m_clock.nowMs(), limit + 1, after);
    const bool more = rows.size() > limit;
    if (more)
        rows.resize(limit);
    json::Array videos;
    for (const VideoRow &row : rows) {
        json::Object item;
        item.emplace("id", row.id);
        item.emplace("title", row.title);
        item.emplace("expiresAt", row.expiresAtMs);
        item.emplace("shareUrl", shareUrl(row.id));
        item.emplace("createdAt", row.createdAtMs);
        if (row.sizeBytes)
            item.emplace("sizeBytes", *row.sizeBytes);
        if (row.durationMs)
            item.emplace("durationMs", *row.durationMs);
        if (row.width)
            item.emplace("width", *row.width);
        if (row.height)
            item.emplace("height", *row.height);
        videos.emplace_back(std::move(item));
    }
    json::Object o;
    o.emplace("videos", std::move(videos));
    if (more)
        o.emplace("next", std::to_string(rows.back().createdAtMs) + "." + rows.back().id);
    return jsonReply(200, Value(std::move(o)));
}

Reply Service::rename(const std::string &owner, const std::string &id, std::string_view body)
{
    if (!crypto::isVideoId(id))
        return notFound();
    BodyObject parsed = parseBody(body);
    if (parsed.failure)
        return *parsed.failure;
    std::optional<Reply> failure;
    std::string title;
    if (!requiredTitle(*parsed.value, title, failure))
        return *failure;

    auto guard = m_rowLocks.lock(id);
    if (!ownedVideo(owner, id) || !m_metadata->setTitle(id, title))
        return notFound();
    json::Object o;
    o.emplace("id", id);
    o.emplace("title", title);
    return jsonReply(200, Value(std::move(o)));
}

Reply Service::setExpiry(const std::string &owner, const std::string &id, std::string_view body)
{
    if (!crypto::isVideoId(id))
        return notFound();
    BodyObject parsed = parseBody(body);
    if (parsed.failure)
        return *parsed.failure;
    const Value *lt = parsed.value->find("lifetime");
    if (!lt)
        return errorReply(400, "\"lifetime\" is missing");
    std::optional<Reply> failure;
    std::int64_t expiresAt = 0;
    if (!lifetimeExpiry(*lt, m_clock.nowMs(), expiresAt, failure))
        return *failure;

    auto guard = m_rowLocks.lock(id);
    if (!ownedVideo(owner, id) || !m_metadata->setExpiry(id, expiresAt))
        return notFound();
    json::Object o;
    o.emplace("id", id);
    o.emplace("expiresAt", expiresAt);
    return jsonReply(200, Value(std::move(o)));
}

Reply Service::remove(const std::string &owner, const std::string &id)
{
    if (!crypto::isVideoId(id))
        return notFound();
    auto guard = m_rowLocks.lock(id);
    if (!ownedVideo(owner, id))
        return notFound();
    removeEverything(id);
    Reply r;
    r.status = 204;
    r.contentType.clear();
    return r;
}

std::optional<Reply> Service::precheckPart(const std::string &owner, const std::string &id,
                                           const std::string &partNumber, std::optional<std::uint64_t> contentLength)
{
    const std::optional<VideoRow> row = ownedVideo(owner, id);
    if (!row)
        return notFound();
    if (row->state != VideoState::Uploading)
        return alreadyComplete();
    const std::optional<int> number = parsePartNumber(partNumber);
    if (!number)
        return badPartNumber();
    if (std::int64_t(*number - 1) * row->partSize >= m_options.maxVideoBytes)
        return errorReply(413, "part " + std::to_string(*number) + " would start past the largest video accepted (" +
                                   std::to_string(m_options.maxVideoBytes) + " bytes)");
    if (contentLength) {
        if (*contentLength == 0)
            return errorReply(400, "a part must not be empty");
        if (*contentLength > std::uint64_t(row->partSize))
            return errorReply(413, "a part must be at most partSize (" + std::to_string(row->partSize) + " bytes)");
    }
    return quotaFailure(owner, contentLength.value_or(std::uint64_t(row->partSize)), false);
}

std::optional<Reply> Service::precheckWhole(const std::string &owner, const std::string &id,
                                            std::optional<std::uint64_t> contentLength)
{
    const std::optional<VideoRow> row = ownedVideo(owner, id);
    if (!row)
        return notFound();
    if (row->state != VideoState::Uploading)
        return alreadyComplete();
    if (contentLength && *contentLength > std::uint64_t(m_options.maxVideoBytes))
        return errorReply(413, "a video must be at most " + std::to_string(m_options.maxVideoBytes) + " bytes");
    return quotaFailure(owner, contentLength.value_or(0), false);
}

namespace {

// Streams a body into a blob, hashing it when asked. Stops at limit + 1 bytes.
struct Received {
    bool complete = false; // the whole body arrived
    bool tooLarge = false; // more than limit bytes
    bool notMp4 = false;   // checked, and the first bytes are no MP4 file-type box
    bool storageFailed = false;
    bool diskFull = false;
    std::string storageError;
    std::uint64_t bytes = 0;
};

Received receiveInto(ByteSink &blob, const BodyReader &body, std::uint64_t limit, crypto::PartDigest *digest,
                     bool checkMp4)
{
    Received r;
    std::string head;
    r.complete = body([&](const char *data, std::size_t size) {
        if (r.bytes + size > limit) {
            r.tooLarge = true;
            return false;
        }
        if (checkMp4 && head.size() < kMp4HeadBytes) {
            head.append(data, std::min(size, kMp4HeadBytes - head.size()));
            if (head.size() == kMp4HeadBytes && !isMp4Head(head)) {
                r.notMp4 = true;
                return false;
            }
        }
        r.bytes += size;
        try {
            blob.write(data, size);
        } catch (const StorageError &e) {
            r.storageFailed = true;
            r.diskFull = e.error == ENOSPC || e.error == EDQUOT;
            r.storageError = e.what();
            return false;
        }
        if (digest)
            digest->update(data, size);
        return true;
    });
    if (checkMp4 && r.complete && !isMp4Head(head))
        r.notMp4 = true; // shorter than the box header, or empty
    return r;
}

std::optional<Reply> receiveFailure(const Received &r, const std::string &tooLargeReason)
{
    if (r.notMp4)
        return notMp4();
    if (r.tooLarge)
        return errorReply(413, tooLargeReason);
    if (r.storageFailed) {
        logLine("storage error while receiving: " + r.storageError);
        return r.diskFull ? errorReply(507, "the service's disk is full")
                          : errorReply(500, "could not store the upload");
    }
    if (!r.complete)
        return errorReply(400, "the request body was cut short");
    return std::nullopt;
}

} // namespace

Reply Service::putPart(const std::string &owner, const std::string &id, const std::string &partNumber,
                       std::optional<std::uint64_t> contentLength, const BodyReader &body)
{
    if (std::optional<Reply> early = precheckPart(owner, id, partNumber, contentLength))
        return *early;
    const int number = *parsePartNumber(partNumber);

    // One writer per part; parts of one video are written in parallel, and a
    // complete waits for those in progress.
    auto partGuard = m_partLocks.lock(partKey(id, number));
    auto uploadGuard = m_uploadLocks.lockShared(id);

    std::unique_ptr<PartWriter> writer;
    std::int64_t partSize = 0;
    {
        auto guard = m_rowLocks.lock(id);
        const std::optional<VideoRow> row = ownedVideo(owner, id);
        if (!row)
            return notFound();
        if (row->state != VideoState::Uploading)
            return alreadyComplete();
        partSize = row->partSize;
        // The part's record goes before its bytes change: a part being
        // re-sent counts as missing until it has arrived whole.
        m_metadata->deletePart(id, number);
        try {
            writer = m_storage->writePart(id, number, partSize);
        } catch (const StorageError &e) {
            logLine("part " + std::to_string(number) + " of " + id + " refused: " + e.what());
            return e.error == ENOSPC || e.error == EDQUOT ? errorReply(507, "the service's disk is full")
                                                          : errorReply(500, "could not store the part");
        }
    }

    // The bytes stream to storage with no row lock held.
    crypto::PartDigest digest;
    const Received got = receiveInto(*writer, body, std::uint64_t(partSize), &digest, false);
    if (std::optional<Reply> failure =
            receiveFailure(got, "a part must be at most partSize (" + std::to_string(partSize) + " bytes)"))
        return *failure;
    if (got.bytes == 0)
        return errorReply(400, "a part must not be empty");
    if (std::int64_t(number - 1) * partSize + std::int64_t(got.bytes) > m_options.maxVideoBytes)
        return errorReply(413, "a video must be at most " + std::to_string(m_options.maxVideoBytes) + " bytes");
    writer->finish();
    crashPoint("part-written");
    const std::string etag = digest.finishEtag();

    auto guard = m_rowLocks.lock(id);
    const std::optional<VideoRow> row = ownedVideo(owner, id);
    if (!row) {
        // Deleted or expired meanwhile; ids are never reused, so its bytes can go.
        if (!m_metadata->findVideo(id))
            m_storage->removeUpload(id);
        return notFound();
    }
    if (row->state != VideoState::Uploading)
        return alreadyComplete();
    m_metadata->putPart(id, PartRow{number, std::int64_t(got.bytes), etag});

    json::Object o;
    o.emplace("partNumber", std::int64_t(number));
    o.emplace("etag", etag);
    return jsonReply(200, Value(std::move(o)));
}

Reply Service::putWhole(const std::string &owner, const std::string &id, std::optional<std::uint64_t> contentLength,
                        const BodyReader &body)
{
    if (std::optional<Reply> early = precheckWhole(owner, id, contentLength))
        return *early;
    const std::uint64_t limit = std::uint64_t(m_options.maxVideoBytes);
    std::unique_ptr<BlobWriter> blob = m_storage->newBlob();
    const Received got = receiveInto(*blob, body, limit, nullptr, true);
    if (std::optional<Reply> failure =
            receiveFailure(got, "a video must be at most " + std::to_string(limit) + " bytes"))
        return *failure;

    auto guard = m_rowLocks.lock(id);
    std::optional<VideoRow> row = ownedVideo(owner, id);
    if (!row)
        return notFound();
    if (row->state != VideoState::Uploading)
        return alreadyComplete();

    m_storage->keepAsMedia(*blob, id);
    crashPoint("media-placed");
    row->state = VideoState::Ready;
    row->completedAtMs = m_clock.nowMs();
    row->sizeBytes = std::int64_t(got.bytes);
    if (!m_metadata->markReady(*row)) {
        m_storage->removeMedia(id);
        return alreadyComplete();
    }
    crashPoint("completed");
    m_storage->removeUpload(id); // parts sent before, if any
    makePoster(id);
    return videoInfo(*row);
}

Reply Service::complete(const std::string &owner, const std::string &id, std::string_view body)
{
    if (!crypto::isVideoId(id))
        return notFound();
    BodyObject parsed = parseBody(body, maxCompleteBodyBytes());
    if (parsed.failure)
        return *parsed.failure;
    const Value &obj = *parsed.value;
    std::optional<Reply> failure;

    const Value *partsValue = obj.find("parts");
    if (!partsValue)
        return errorReply(400, "\"parts\" is missing");
    if (!partsValue->isArray())
        return errorReply(400, "\"parts\" must be an array");
    const json::Array &listed = partsValue->asArray();
    if (listed.empty())
        return errorReply(400, "\"parts\" must list at least one part");
    if (listed.size() > std::size_t(limits::kMaxPartNumber))
        return errorReply(400, "\"parts\" lists more than " + std::to_string(limits::kMaxPartNumber) + " parts");
    std::vector<std::pair<int, std::string>> wanted;
    wanted.reserve(listed.size());
    for (const Value &entry : listed) {
        const Value *n = entry.find("partNumber");
        const Value *etag = entry.find("etag");
        if (!entry.isObject() || !n || !etag)
            return errorReply(400, "each entry of \"parts\" must be an object with \"partNumber\" and \"etag\"");
        if (!n->isInteger() || n->asInteger() < 1 || n->asInteger() > limits::kMaxPartNumber)
            return errorReply(400,
                              "\"partNumber\" must be an integer from 1 to " + std::to_string(limits::kMaxPartNumber));
        if (!etag->isString())
            return errorReply(400, "\"etag\" must be a string");
        if (!wanted.empty() && n->asInteger() <= wanted.back().first)
            return errorReply(400, "\"parts\" must be in ascending order of \"partNumber\", each once");
        wanted.emplace_back(int(n->asInteger()), etag->asString());
    }
    std::optional<std::int64_t> durationMs, width, height;
    if (!optionalCount(obj, "durationMs", durationMs, failure) || !optionalCount(obj, "width", width, failure) ||
        !optionalCount(obj, "height", height, failure))
        return *failure;

    // Identifies this part list, so a complete sent again after a lost reply
    // is recognised and answered as the first one was.
    std::string listedText;
    for (const auto &[number, etag] : wanted)
        listedText += std::to_string(number) + ":" + etag + "\n";
    const std::string digest = crypto::sha256Hex(listedText);

    // Parts still being written finish first; none start meanwhile.
    auto uploadGuard = m_uploadLocks.lock(id);
    auto guard = m_rowLocks.lock(id);
    std::optional<VideoRow> row = ownedVideo(owner, id);
    if (!row)
        return notFound();
    if (row->state != VideoState::Uploading) {
        if (row->partsDigest != digest)
            return alreadyComplete();
        if (row->state == VideoState::Completing && !finishCompleting(*row))
            return errorReply(500, "could not finish the upload; try again");
        row->state = VideoState::Ready;
        return videoInfo(*row);
    }

    std::map<int, PartRow> stored;
    for (PartRow &p : m_metadata->parts(id))
        stored.emplace(p.number, std::move(p));
    std::vector<PartRef> refs;
    refs.reserve(wanted.size());
    std::int64_t total = 0;
    for (const auto &[number, etag] : wanted) {
        auto it = stored.find(number);
        if (it == stored.end())
            return errorReply(400, "part " + std::to_string(number) + " has not been uploaded");
        if (it->second.etag != etag)
            return errorReply(400, "the etag of part " + std::to_string(number) + " does not match the uploaded part");
        total += it->second.sizeBytes;
        refs.push_back(PartRef{number, std::uint64_t(it->second.sizeBytes), etag});
    }
    // The parts of a video are 1..N, each but the last partSize long (what
    // the create reply asked for), so they lie end to end as uploaded.
    for (std::size_t i = 0; i < refs.size(); ++i) {
        if (refs[i].number != int(i) + 1)
            return errorReply(400, "the parts must be numbered 1 to " + std::to_string(refs.size()) + " without gaps");
        if (i + 1 < refs.size() && std::int64_t(refs[i].sizeBytes) != row->partSize)
            return errorReply(400, "part " + std::to_string(refs[i].number) + " is " +
                                       std::to_string(refs[i].sizeBytes) +
                                       " bytes; every part but the last must be partSize (" +
                                       std::to_string(row->partSize) + " bytes)");
    }
    if (total > m_options.maxVideoBytes)
        return errorReply(413, "a video must be at most " + std::to_string(m_options.maxVideoBytes) + " bytes");
    if (!isMp4Head(m_storage->uploadHead(id, kMp4HeadBytes)))
        return notMp4();

    VideoRow finished = *row;
    finished.completedAtMs = m_clock.nowMs();
    finished.sizeBytes = total;
    finished.partsDigest = digest;
    if (durationMs)
        finished.durationMs = durationMs;
    if (width)
        finished.width = width;
    if (height)
        finished.height = height;
    // Recorded first: from here on a crash is finished at start-up, not undone.
    if (!m_metadata->beginComplete(finished, int(refs.size())))
        return alreadyComplete();
    crashPoint("completing");
    try {
        m_storage->publishParts(id, refs, row->partSize, std::uint64_t(total));
    } catch (const StorageError &e) {
        // The parts' bytes may be damaged (a failed sync can drop them): the
        // upload goes back to its start instead of staying half-done.
        logLine("complete " + id + " failed: " + e.what());
        abandonComplete(id);
        return e.error == ENOSPC || e.error == EDQUOT
                   ? errorReply(507, "the service's disk is full; send the parts again later")
                   : errorReply(500, "could not store the video; send the parts again");
    }
    crashPoint("published");
    if (!finishCompleting(finished))
        return errorReply(500, "could not finish the upload; try again");
    crashPoint("completed");
    finished.state = VideoState::Ready;
    return videoInfo(finished);
}

// A completing video whose file is published (or can be now) becomes ready.
// False when the record cannot be written; it stays completing, and a
// repeated complete or the next start-up finishes it.
bool Service::finishCompleting(const VideoRow &row)
{
    try {
        if (!m_storage->hasMedia(row.id)) {
            std::vector<PartRef> refs;
            for (const PartRow &p : m_metadata->parts(row.id))
                refs.push_back(PartRef{p.number, std::uint64_t(p.sizeBytes), p.etag});
            m_storage->publishParts(row.id, refs, row.partSize, std::uint64_t(row.sizeBytes.value_or(0)));
        }
        m_metadata->finishComplete(row.id);
    } catch (const std::exception &e) {
        logLine("complete " + row.id + " not finished: " + e.what());
        return false;
    }
    makePoster(row.id);
    return true;
}

void Service::abandonComplete(const std::string &id)
{
    try {
        m_metadata->abortComplete(id);
        m_storage->removeMedia(id);
        m_storage->removeUpload(id);
    } catch (const std::exception &e) {
        logLine("complete " + id + " not undone: " + std::string(e.what()));
    }
}

std::optional<PublicVideo> Service::publicVideo(const std::string &id)
{
    if (!crypto::isVideoId(id))
        return std::nullopt;
    std::optional<VideoRow> row = m_metadata->findVideo(id);
    if (!row || row->state != VideoState::Ready || isGone(*row, m_clock.nowMs()))
        return std::nullopt;
    PublicVideo v;
    v.id = row->id;
    v.title = row->title;
    v.expiresAtMs = row->expiresAtMs;
    v.sizeBytes = row->sizeBytes.value_or(0);
    v.durationMs = row->durationMs;
    v.width = row->width;
    v.height = row->height;
    v.hasPoster = m_storage->readPoster(id).has_value();
    return v;
}

std::unique_ptr<MediaReader> Service::openMedia(const std::string &id)
{
    if (!publicVideo(id))
        return nullptr;
    return m_storage->openMedia(id);
}

std::optional<std::string> Service::poster(const std::string &id)
{
    if (!publicVideo(id))
        return std::nullopt;
    return m_storage->readPoster(id);
}

void Service::makePoster(const std::string &id)
{
    {
        std::lock_guard lock(m_posterMutex);
        m_posterQueue.push_back(id);
    }
    m_posterWake.notify_all();
}

void Service::waitForPosters()
{
    std::unique_lock lock(m_posterMutex);
    m_posterWake.wait(lock, [this] { return m_posterQueue.empty() && !m_posterBusy; });
}

void Service::posterLoop()
{
    std::unique_lock lock(m_posterMutex);
    for (;;) {
        m_posterWake.wait(lock, [this] { return m_posterStop || !m_posterQueue.empty(); });
        if (m_posterStop)
            return;
        const std::string id = std::move(m_posterQueue.front());
        m_posterQueue.pop_front();
        m_posterBusy = true;
        lock.unlock();
        try {
            if (!m_storage->makePoster(id))
                logLine("poster of " + id + ": no picture found");
            // Deleted meanwhile: the poster goes with it.
            auto guard = m_rowLocks.lock(id);
            if (!m_metadata->findVideo(id))
                m_storage->removeMedia(id);
        } catch (const std::exception &e) {
            logLine("poster of " + id + " not made: " + std::string(e.what()));
        }
        lock.lock();
        m_posterBusy = false;
        m_posterWake.notify_all();
    }
}
