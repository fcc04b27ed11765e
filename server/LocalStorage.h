#pragma once

#include "Storage.h"

#include <filesystem>

// Storage on the local disk, under one folder:
//   media/<id>.mp4   finished videos
//   media/<id>.jpg   their posters
//   uploads/<id>     a multipart upload in progress: part n is written in
//                    place at offset (n - 1) x partSize, so completing it is a
//                    truncate, an fsync and a rename, never a copy
//   tmp/             whole-file uploads being received; emptied at start-up
// Everything is renamed into place after an fsync, and the folder fsync'ed,
// on one file system, so what becomes visible is complete.
class LocalStorage : public Storage {
public:
    explicit LocalStorage(std::filesystem::path root);

    std::unique_ptr<PartWriter> writePart(const std::string &videoId, int number, std::int64_t partSize) override;
    void publishParts(const std::string &videoId, const std::vector<PartRef> &parts, std::int64_t partSize,
                      std::uint64_t totalBytes) override;
    bool hasUpload(const std::string &videoId) override;
    std::optional<std::uint64_t> uploadExtent(const std::string &videoId) override;
    std::string uploadHead(const std::string &videoId, std::size_t size) override;
    bool partMatches(const std::string &videoId, int number, std::int64_t partSize, std::uint64_t sizeBytes,
                     const std::string &etag) override;
    void removeUpload(const std::string &videoId) override;
    std::vector<std::string> listUploads() override;

    std::unique_ptr<BlobWriter> newBlob() override;
    void keepAsMedia(BlobWriter &blob, const std::string &videoId) override;
    std::unique_ptr<MediaReader> openMedia(const std::string &videoId) override;
    bool hasMedia(const std::string &videoId) override;
    void removeMedia(const std::string &videoId) override;
    bool makePoster(const std::string &videoId) override;
    std::optional<std::string> readPoster(const std::string &videoId) override;
    std::vector<std::string> listMedia() override;

    std::optional<std::uint64_t> freeBytes() override;
    void removeTemporaries() override;

    std::filesystem::path mediaPath(const std::string &videoId) const;
    std::filesystem::path uploadPath(const std::string &videoId) const;
    const std::filesystem::path &tmpDir() const { return m_tmp; }

private:
    std::filesystem::path m_root, m_media, m_uploads, m_tmp;
};
