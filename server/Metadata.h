#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// The service's records: one row per video and one per stored part of an
// upload in progress. Behind this interface so that a shared database can take
// the place of the local SQLite file. Errors are thrown as MetadataError.

struct MetadataError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// uploading -> ready (single-part upload), or uploading -> completing -> ready
// (multipart: "completing" records that a complete was accepted, so start-up
// finishes it if a crash came before the media file was published).
enum class VideoState { Uploading, Completing, Ready };

struct VideoRow {
    std::string id;
    std::string owner; // SHA-256 (hex) of the device token; the token itself is never stored
    std::string title;
    VideoState state = VideoState::Uploading;
    std::int64_t createdAtMs = 0;
    std::int64_t expiresAtMs = 0;
    std::int64_t partSize = 0; // the part size this upload was given
    std::optional<std::int64_t> completedAtMs;
    std::optional<std::int64_t> sizeBytes;
    std::optional<std::int64_t> durationMs;
    std::optional<std::int64_t> width;
    std::optional<std::int64_t> height;
    // SHA-256 of the completed part list, so a repeated complete is recognised.
    std::optional<std::string> partsDigest;
};

// Where a page of the video list ends: the last video shown.
struct ListCursor {
    std::int64_t createdAtMs = 0;
    std::string id;
};

// What one device holds: all its videos, those still uploading, and bytes
// (of finished videos and of the parts stored so far).
struct Usage {
    std::int64_t videos = 0;
    std::int64_t uploading = 0;
    std::int64_t bytes = 0;
};

struct PartRow {
    int number = 0;
    std::int64_t sizeBytes = 0;
    std::string etag;
};

class Metadata {
public:
    virtual ~Metadata() = default;

    virtual void insertVideo(const VideoRow &row) = 0;
    virtual std::optional<VideoRow> findVideo(const std::string &id) = 0;
    // Ready videos of one owner that have not expired at nowMs, newest first,
    // at most limit of them, beginning after the cursor when there is one.
    virtual std::vector<VideoRow> listReady(const std::string &owner, std::int64_t nowMs, std::size_t limit,
                                            const std::optional<ListCursor> &after) = 0;
    virtual bool setTitle(const std::string &id, const std::string &title) = 0;
    virtual bool setExpiry(const std::string &id, std::int64_t expiresAtMs) = 0;

    // Records a part of an upload in progress, replacing an earlier one with
    // the same number; returns the etag it replaced, if any. Part records
    // (and their deletion) need not be durable at once: like the part's
    // bytes, they become durable with the complete, and after the machine
    // went down start-up checks every part left against its bytes.
    virtual std::optional<std::string> putPart(const std::string &id, const PartRow &part) = 0;
    virtual std::vector<PartRow> parts(const std::string &id) = 0; // ascending by number
    virtual void deletePart(const std::string &id, int number) = 0;

    // Single-part upload: flips an uploading video to ready with its final
    // facts and forgets its parts, in one transaction. False when it was not uploading.
    virtual bool markReady(const VideoRow &finished) = 0;
    // Multipart complete, first step: an uploading video becomes completing
    // with its final facts; parts after lastPart are forgotten. False when it
    // was not uploading.
    virtual bool beginComplete(const VideoRow &finished, int lastPart) = 0;
    // Second step: completing becomes ready and the parts are forgotten.
    virtual bool finishComplete(const std::string &id) = 0;
    // A complete that could not be carried out: completing goes back to
    // uploading and the parts are forgotten (their bytes may be damaged).
    virtual bool abortComplete(const std::string &id) = 0;
    // Deletes the video and its parts; false when there was none.
    virtual bool deleteVideo(const std::string &id) = 0;

    // For the sweeper: ids of videos expired at nowMs, and of uploads created
    // at or before createdByMs that are still not complete.
    virtual std::vector<std::string> expiredIds(std::int64_t nowMs) = 0;
    virtual std::vector<std::string> staleUploadIds(std::int64_t createdByMs) = 0;
    virtual Usage usage(const std::string &owner) = 0;

    // For start-up recovery.
    virtual std::vector<VideoRow> allVideos() = 0;
    virtual std::vector<std::pair<std::string, PartRow>> allParts() = 0;
};
