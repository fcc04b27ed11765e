#pragma once

#include "Clock.h"
#include "KeyedMutex.h"
#include "Metadata.h"
#include "Storage.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

// The sharing service's rules, apart from HTTP: what each endpoint
// accepts, what it changes and what it answers. The HTTP layer (HttpServer)
// only routes requests here and writes the replies out.

namespace limits {
inline constexpr std::size_t kMaxJsonBodyBytes = 64 * 1024;
inline constexpr std::size_t kMaxTitleChars = 1000; // Unicode code points
inline constexpr int kMaxPartNumber = 10000;
inline constexpr std::int64_t kDefaultPartSize = 8 * 1024 * 1024;
inline constexpr std::int64_t kDefaultMaxVideoBytes = 20LL * 1024 * 1024 * 1024;
inline constexpr std::int64_t kDefaultUploadTimeoutSeconds = 24 * 3600;
inline constexpr std::size_t kMinTokenChars = 32;
inline constexpr std::size_t kMaxTokenChars = 256;
inline constexpr std::size_t kDefaultListPage = 100;
inline constexpr std::size_t kMaxListPage = 1000;
// A complete body lists every part: room for the longest entry of each.
inline constexpr std::size_t kCompleteBytesPerPart = 128;
} // namespace limits

// The expiry of a video kept "forever": 9999-12-31T23:59:59Z in epoch
// milliseconds. Far more than 100 years ahead (the client's test for
// "forever"), still a valid date for JavaScript, Qt and SQLite, and the same
// for every video, so it reads as "forever" in the database at a glance.
inline constexpr std::int64_t kForeverExpiresAtMs = 253402300799000LL;

struct ServiceOptions {
    std::string publicOrigin = "http://127.0.0.1:8787"; // no trailing slash
    std::int64_t partSize = limits::kDefaultPartSize;
    std::int64_t maxVideoBytes = limits::kDefaultMaxVideoBytes;
    std::int64_t uploadTimeoutMs = limits::kDefaultUploadTimeoutSeconds * 1000;
    // Per device: uploads in progress (429 beyond), videos and bytes kept (507 beyond).
    std::int64_t maxUploadsPerDevice = 10;
    std::int64_t maxVideosPerDevice = 10000;
    std::int64_t maxBytesPerDevice = 200LL * 1024 * 1024 * 1024;
    // Creates and parts are refused (507) when they would leave less free disk.
    std::int64_t diskReserveBytes = 1LL * 1024 * 1024 * 1024;
};

// A reply ready to be written: status, content type and body.
struct Reply {
    int status = 200;
    std::string contentType = "application/json";
    std::string body;

    bool ok() const { return status >= 200 && status < 300; }
};

Reply errorReply(int status, const std::string &reason);

// Pulls a request body: calls the sink with each chunk as it arrives and
// returns true when the whole body was delivered. A sink that returns false
// stops the transfer (the reader then returns false).
using BodySink = std::function<bool(const char *data, std::size_t size)>;
using BodyReader = std::function<bool(const BodySink &sink)>;

// What the public pages need of a ready video.
struct PublicVideo {
    std::string id;
    std::string title;
    std::int64_t expiresAtMs = 0;
    std::int64_t sizeBytes = 0;
    std::optional<std::int64_t> durationMs, width, height;
    bool hasPoster = false;
};

struct RecoveryReport {
    int orphanMediaRemoved = 0;      // media without a ready row (a crash between publishing and recording)
    int orphanUploadsRemoved = 0;    // upload files without an uploading row
    int rowsWithoutMediaRemoved = 0; // ready rows whose media file is missing
    int partRowsRemoved = 0;         // part rows whose bytes are not (all) stored
    int completesFinished = 0;       // completes accepted before a crash, finished now
};

struct SweepReport {
    int expiredRemoved = 0;
    int staleUploadsRemoved = 0;
};

class Service {
public:
    Service(std::unique_ptr<Metadata> metadata, std::unique_ptr<Storage> storage, const Clock &clock,
            ServiceOptions options);
    ~Service();
    Service(const Service &) = delete;
    Service &operator=(const Service &) = delete;

    const ServiceOptions &options() const { return m_options; }
    // Set once before serving (the origin can depend on the port bound).
    void setPublicOrigin(std::string origin) { m_options.publicOrigin = std::move(origin); }
    Metadata &metadata() { return *m_metadata; }
    Storage &storage() { return *m_storage; }

    // A well-formed device token: 32 to 256 characters, each a letter, a digit
    // or one of "-", "_", ".", "~". The client's tokens are 64 lowercase hex digits.
    static bool isWellFormedToken(std::string_view token);
    // The owner key stored for a token (its SHA-256 in hex).
    static std::string ownerOf(std::string_view token);

    // The largest complete body: one entry for each part a video can have.
    std::size_t maxCompleteBodyBytes() const;

    std::string shareUrl(const std::string &id) const { return m_options.publicOrigin + "/v/" + id; }

    // The endpoints of the video API. owner is ownerOf(the request's token).
    Reply create(const std::string &owner, std::string_view body);
    // One page of ready videos, newest first; "next" names where the next page begins.
    Reply list(const std::string &owner, std::string_view limit = {}, std::string_view after = {});
    Reply rename(const std::string &owner, const std::string &id, std::string_view body);
    Reply setExpiry(const std::string &owner, const std::string &id, std::string_view body);
    Reply remove(const std::string &owner, const std::string &id);
    Reply complete(const std::string &owner, const std::string &id, std::string_view body);
    Reply putPart(const std::string &owner, const std::string &id, const std::string &partNumber,
                  std::optional<std::uint64_t> contentLength, const BodyReader &body);
    Reply putWhole(const std::string &owner, const std::string &id, std::optional<std::uint64_t> contentLength,
                   const BodyReader &body);

    // The checks putPart / putWhole make before reading a body, so a request
    // that will fail can be answered before its bytes are sent. nullopt: go on.
    std::optional<Reply> precheckPart(const std::string &owner, const std::string &id, const std::string &partNumber,
                                      std::optional<std::uint64_t> contentLength);
    std::optional<Reply> precheckWhole(const std::string &owner, const std::string &id,
                                       std::optional<std::uint64_t> contentLength);

    // Public media and share page: a ready video that has not expired.
    std::optional<PublicVideo> publicVideo(const std::string &id);
    std::unique_ptr<MediaReader> openMedia(const std::string &id);
    std::optional<std::string> poster(const std::string &id); // JPEG
    // Posters are made on a thread of their own, so a complete never waits
    // for FFmpeg; returns once every poster asked for so far is done.
    void waitForPosters();

    // Start-up: finishes completes that were accepted, drops what a crash left
    // half-done (temporaries, media without a ready row, upload files without
    // an upload) and rows whose bytes are missing.
    // machineRestarted: the machine went down since the last run, so bytes
    // not yet synced may be lost and recorded parts are checked against their digests.
    RecoveryReport recover(bool machineRestarted);
    // Removes expired videos and uploads not completed within the time-out.
    SweepReport sweep();

private:
    bool isGone(const VideoRow &row, std::int64_t nowMs) const;
    std::optional<VideoRow> ownedVideo(const std::string &owner, const std::string &id);
    Reply videoInfo(const VideoRow &row) const;
    void removeEverything(const std::string &id);
    bool finishCompleting(const VideoRow &row);
    void makePoster(const std::string &id);
    void posterLoop();
    void abandonComplete(const std::string &id);
    std::optional<Reply> quotaFailure(const std::string &owner, std::uint64_t incomingBytes, bool newUpload);

    std::unique_ptr<Metadata> m_metadata;
    std::unique_ptr<Storage> m_storage;
    const Clock &m_clock;
    ServiceOptions m_options;
    // Lock order: m_partLocks (id#n), then m_uploadLocks (id), then m_rowLocks (id).
    KeyedMutex m_rowLocks;    // any change to a video's row and files; held briefly
    KeyedMutex m_uploadLocks; // shared while parts are written, exclusive to complete
    KeyedMutex m_partLocks;   // one writer per part at a time

    std::mutex m_posterMutex;
    std::condition_variable m_posterWake;
    std::deque<std::string> m_posterQueue;
    bool m_posterBusy = false;
    bool m_posterStop = false;
    std::thread m_posterThread;
};
