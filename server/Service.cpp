#include "Service.h"

#include "CrashPoint.h"
#include "Crypto.h"
#include "Json.h"
#include "Log.h"
#include "base/LifetimeBounds.h"

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

BodyObject parseBody(std::string_view body)
{
    BodyObject out;
    if (body.size() > limits::kMaxJsonBodyBytes) {
        out.failure = errorReply(413, "JSON body larger than " + std::to_string(limits::kMaxJsonBodyBytes) + " bytes");
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
    : m_metadata(std::move(metadata)), m_storage(std::move(storage)), m_clock(clock), m_options(std::move(options))
{
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

Reply Service::list(const std::string &owner)
{
    json::Array videos;
    for (const VideoRow &row : m_metadata->listReady(owner, m_clock.nowMs())) {
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
    return std::nullopt;
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
    return std::nullopt;
}

namespace {

// Streams a body into a blob, hashing it when asked. Stops at limit + 1 bytes.
struct Received {
    bool complete = false; // the whole body arrived
    bool tooLarge = false; // more than limit bytes
    bool storageFailed = false;
    std::string storageError;
    std::uint64_t bytes = 0;
};

Received receiveInto(ByteSink &blob, const BodyReader &body, std::uint64_t limit, crypto::Sha256 *digest)
{
    Received r;
    r.complete = body([&](const char *data, std::size_t size) {
        if (r.bytes + size > limit) {
            r.tooLarge = true;
            return false;
        }
        r.bytes += size;
        try {
            blob.write(data, size);
        } catch (const StorageError &e) {
            r.storageFailed = true;
            r.storageError = e.what();
            return false;
        }
        if (digest)
            digest->update(data, size);
        return true;
    });
    return r;
}

std::optional<Reply> receiveFailure(const Received &r, const std::string &tooLargeReason)
{
    if (r.tooLarge)
        return errorReply(413, tooLargeReason);
    if (r.storageFailed) {
        logLine("storage error while receiving: " + r.storageError);
        return errorReply(500, "could not store the upload");
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
        writer = m_storage->writePart(id, number, partSize);
    }

    // The bytes stream to storage with no row lock held.
    crypto::Sha256 digest;
    const Received got = receiveInto(*writer, body, std::uint64_t(partSize), &digest);
    if (std::optional<Reply> failure =
            receiveFailure(got, "a part must be at most partSize (" + std::to_string(partSize) + " bytes)"))
        return *failure;
    if (got.bytes == 0)
        return errorReply(400, "a part must not be empty");
    if (std::int64_t(number - 1) * partSize + std::int64_t(got.bytes) > m_options.maxVideoBytes)
        return errorReply(413, "a video must be at most " + std::to_string(m_options.maxVideoBytes) + " bytes");
    writer->finish();
    crashPoint("part-written");
    const std::string etag = digest.finishHex();

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
    const Received got = receiveInto(*blob, body, limit, nullptr);
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
    return videoInfo(*row);
}

Reply Service::complete(const std::string &owner, const std::string &id, std::string_view body)
{
    if (!crypto::isVideoId(id))
        return notFound();
    BodyObject parsed = parseBody(body);
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

    // Parts still being written finish first; none start meanwhile.
    auto uploadGuard = m_uploadLocks.lock(id);
    auto guard = m_rowLocks.lock(id);
    std::optional<VideoRow> row = ownedVideo(owner, id);
    if (!row)
        return notFound();
    if (row->state != VideoState::Uploading)
        return alreadyComplete();

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

    VideoRow finished = *row;
    finished.completedAtMs = m_clock.nowMs();
    finished.sizeBytes = total;
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
    m_storage->publishParts(id, refs, row->partSize, std::uint64_t(total));
    crashPoint("published");
    m_metadata->finishComplete(id);
    crashPoint("completed");
    finished.state = VideoState::Ready;
    return videoInfo(finished);
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
    return v;
}

std::unique_ptr<MediaReader> Service::openMedia(const std::string &id)
{
    if (!publicVideo(id))
        return nullptr;
    return m_storage->openMedia(id);
}

RecoveryReport Service::recover()
{
    RecoveryReport report;
    m_storage->removeTemporaries();

    std::unordered_map<std::string, VideoRow> rows;
    for (VideoRow &row : m_metadata->allVideos())
        rows.emplace(row.id, std::move(row));
    std::unordered_map<std::string, std::vector<PartRow>> parts;
    for (auto &[id, part] : m_metadata->allParts())
        parts[id].push_back(std::move(part));

    // A complete that was accepted is finished: its parts were checked and
    // recorded before the crash.
    for (auto &[id, row] : rows) {
        if (row.state != VideoState::Completing)
            continue;
        if (!m_storage->hasMedia(id)) {
            if (!m_storage->hasUpload(id) || !row.sizeBytes) {
                m_metadata->deleteVideo(id);
                continue; // reported below as a row without media
            }
            std::vector<PartRef> refs;
            for (const PartRow &p : parts[id])
                refs.push_back(PartRef{p.number, std::uint64_t(p.sizeBytes), p.etag});
            m_storage->publishParts(id, refs, row.partSize, std::uint64_t(*row.sizeBytes));
        }
        m_metadata->finishComplete(id);
        row.state = VideoState::Ready;
        parts.erase(id);
        ++report.completesFinished;
    }

    // Media is served only for a ready row: any other media file is what a
    // crash left between publishing a single-part upload and recording it, or
    // after deleting a row.
    for (const std::string &id : m_storage->listMedia()) {
        auto it = rows.find(id);
        if (it == rows.end() || it->second.state != VideoState::Ready) {
            m_storage->removeMedia(id);
            ++report.orphanMediaRemoved;
        }
    }
    for (const auto &[id, row] : rows) {
        if (row.state != VideoState::Uploading && !m_storage->hasMedia(id)) {
            m_metadata->deleteVideo(id);
            ++report.rowsWithoutMediaRemoved;
        }
    }

    // Upload files belong to uploads in progress only.
    for (const std::string &id : m_storage->listUploads()) {
        auto it = rows.find(id);
        if (it == rows.end() || it->second.state != VideoState::Uploading) {
            m_storage->removeUpload(id);
            ++report.orphanUploadsRemoved;
        }
    }
    // A recorded part must lie within what is stored of its upload.
    for (const auto &[id, list] : parts) {
        auto it = rows.find(id);
        const bool uploading = it != rows.end() && it->second.state == VideoState::Uploading;
        const std::optional<std::uint64_t> extent = uploading ? m_storage->uploadExtent(id) : std::nullopt;
        for (const PartRow &p : list) {
            const std::uint64_t end = uploading ? std::uint64_t(p.number - 1) * std::uint64_t(it->second.partSize) +
                                                      std::uint64_t(p.sizeBytes)
                                                : 0;
            if (!uploading || !extent || *extent < end) {
                m_metadata->deletePart(id, p.number);
                ++report.partRowsRemoved;
            }
        }
    }
    return report;
}

SweepReport Service::sweep()
{
    SweepReport report;
    const std::int64_t now = m_clock.nowMs();
    for (const std::string &id : m_metadata->expiredIds(now)) {
        auto guard = m_rowLocks.lock(id);
        const std::optional<VideoRow> row = m_metadata->findVideo(id);
        if (row && row->expiresAtMs <= m_clock.nowMs()) {
            removeEverything(id);
            ++report.expiredRemoved;
        }
    }
    for (const std::string &id : m_metadata->staleUploadIds(now - m_options.uploadTimeoutMs)) {
        auto guard = m_rowLocks.lock(id);
        const std::optional<VideoRow> row = m_metadata->findVideo(id);
        if (row && row->state == VideoState::Uploading && isGone(*row, m_clock.nowMs())) {
            removeEverything(id);
            ++report.staleUploadsRemoved;
        }
    }
    return report;
}
