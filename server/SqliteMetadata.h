#pragma once

#include "Metadata.h"

#include <filesystem>
#include <mutex>

struct sqlite3;

// Metadata in one SQLite file in WAL mode with synchronous=FULL, so that a
// committed change survives a crash of the process or of the machine (part
// records only a crash of the process: see Metadata::putPart). One
// connection, used under a mutex: every statement is short.
class SqliteMetadata final : public Metadata {
public:
    explicit SqliteMetadata(const std::filesystem::path &file);
    ~SqliteMetadata() override;

    void insertVideo(const VideoRow &row) override;
    std::optional<VideoRow> findVideo(const std::string &id) override;
    std::vector<VideoRow> listReady(const std::string &owner, std::int64_t nowMs, std::size_t limit,
                                    const std::optional<ListCursor> &after) override;
    bool setTitle(const std::string &id, const std::string &title) override;
    bool setExpiry(const std::string &id, std::int64_t expiresAtMs) override;

    std::optional<std::string> putPart(const std::string &id, const PartRow &part) override;
    std::vector<PartRow> parts(const std::string &id) override;
    void deletePart(const std::string &id, int number) override;

    bool markReady(const VideoRow &finished) override;
    bool beginComplete(const VideoRow &finished, int lastPart) override;
    bool finishComplete(const std::string &id) override;
    bool abortComplete(const std::string &id) override;
    bool deleteVideo(const std::string &id) override;
    Usage usage(const std::string &owner) override;

    std::vector<std::string> expiredIds(std::int64_t nowMs) override;
    std::vector<std::string> staleUploadIds(std::int64_t createdByMs) override;

    std::vector<VideoRow> allVideos() override;
    std::vector<std::pair<std::string, PartRow>> allParts() override;

private:
    void exec(const char *sql);

    sqlite3 *m_db = nullptr;
    std::mutex m_mutex;
};
