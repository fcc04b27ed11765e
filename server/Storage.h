#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// Where the bytes of videos live: the parts of uploads in progress and the
// finished media files. The service talks to this interface only, so that an
// object store can take the place of the local disk: for S3, writePart is an
// UploadPart, publishParts a CompleteMultipartUpload, newBlob/keepAsMedia a
// PutObject.
//
// Bytes count only once the service has recorded them: a part through the
// metadata row written after PartWriter::finish, a media file through the
// ready row written after it is published. Publishing is atomic: a media file
// is either absent or complete, even after a crash. Errors are thrown as
// StorageError.

struct StorageError : std::runtime_error {
    explicit StorageError(const std::string &what, int error = 0) : std::runtime_error(what), error(error) {}
    int error; // errno when known, e.g. ENOSPC for a full disk
};

// Incoming bytes: a part of an upload, or a whole media file.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual void write(const char *data, std::size_t size) = 0;
    virtual std::uint64_t size() const = 0;
};

// One part being written. finish() ends it; its bytes become durable when the
// upload is published. Until the part is
// recorded they count for nothing, and the service forgets a part's record
// before its bytes are written again.
class PartWriter : public ByteSink {
public:
    virtual void finish() = 0;
};

// A whole media file being written, invisible until kept with keepAsMedia;
// destroying it unkept throws its bytes away.
class BlobWriter : public ByteSink {};

// Random access to a finished media file; stays readable while open even if
// the media is removed meanwhile.
class MediaReader {
public:
    virtual ~MediaReader() = default;
    virtual std::uint64_t size() const = 0;
    // Reads exactly size bytes at offset; throws on failure or a short read.
    virtual void read(std::uint64_t offset, char *buf, std::size_t size) = 0;
};

struct PartRef {
    int number = 0;
    std::uint64_t sizeBytes = 0;
    std::string etag;
};

class Storage {
public:
    virtual ~Storage() = default;

    // --- Multipart uploads ---
    // Part `number` of an upload whose parts are partSize bytes long (all but
    // the last). Parts of one upload may be written at the same time, but not
    // the same part twice at once.
    virtual std::unique_ptr<PartWriter> writePart(const std::string &videoId, int number, std::int64_t partSize) = 0;
    // Makes parts 1..N (in order, each but the last partSize long, totalBytes
    // in all) the media file of videoId, durably and atomically, and ends the
    // upload. Parts not listed are dropped. Must be called with no part being written.
    virtual void publishParts(const std::string &videoId, const std::vector<PartRef> &parts, std::int64_t partSize,
                              std::uint64_t totalBytes) = 0;
    // False only when definitely absent; other errors throw.
    virtual bool hasUpload(const std::string &videoId) = 0;
    // How many bytes of the upload are stored, counted from the start of part 1
    // (the end of its furthest part), for start-up checks; nullopt if none.
    virtual std::optional<std::uint64_t> uploadExtent(const std::string &videoId) = 0;
    // The first bytes of an upload (fewer when it is shorter).
    virtual std::string uploadHead(const std::string &videoId, std::size_t size) = 0;
    // Whether the stored bytes of a part still have the etag made when it
    // arrived (by the digest the etag names); false when they cannot be read.
    virtual bool partMatches(const std::string &videoId, int number, std::int64_t partSize, std::uint64_t sizeBytes,
                             const std::string &etag) = 0;
    virtual void removeUpload(const std::string &videoId) = 0;
    virtual std::vector<std::string> listUploads() = 0;

    // --- Whole media files ---
    virtual std::unique_ptr<BlobWriter> newBlob() = 0;
    // Makes the blob durable and visible as the media file of videoId.
    virtual void keepAsMedia(BlobWriter &blob, const std::string &videoId) = 0;
    virtual std::unique_ptr<MediaReader> openMedia(const std::string &videoId) = 0; // nullptr if absent
    virtual bool hasMedia(const std::string &videoId) = 0;                          // as hasUpload
    virtual void removeMedia(const std::string &videoId) = 0;                       // and its poster
    // The poster of a finished video (a JPEG made from the media), made once
    // it is published; making it may fail, the video stays as it is.
    virtual bool makePoster(const std::string &videoId) = 0;
    virtual std::optional<std::string> readPoster(const std::string &videoId) = 0;
    virtual std::vector<std::string> listMedia() = 0;

    // Free bytes where new bytes would go; nullopt when unknown.
    virtual std::optional<std::uint64_t> freeBytes() = 0;

    // Start-up: drops every blob never kept (left by a crash).
    virtual void removeTemporaries() = 0;
};
