#include "SqliteMetadata.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kSchemaVersion = 2;

const char *kSchema = R"sql(
CREATE TABLE IF NOT EXISTS videos (
    id              TEXT PRIMARY KEY,
    owner           TEXT NOT NULL,
    title           TEXT NOT NULL,
    state           TEXT NOT NULL CHECK (state IN ('uploading', 'completing', 'ready')),
    created_at_ms   INTEGER NOT NULL,
    expires_at_ms   INTEGER NOT NULL,
    part_size       INTEGER NOT NULL,
    completed_at_ms INTEGER,
    size_bytes      INTEGER,
    duration_ms     INTEGER,
    width           INTEGER,
    height          INTEGER,
    parts_digest    TEXT
) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS videos_by_owner ON videos (owner, state, created_at_ms);
CREATE INDEX IF NOT EXISTS videos_by_expiry ON videos (expires_at_ms);
CREATE INDEX IF NOT EXISTS videos_by_state ON videos (state, created_at_ms);
CREATE TABLE IF NOT EXISTS parts (
    video_id    TEXT NOT NULL REFERENCES videos (id) ON DELETE CASCADE,
    part_number INTEGER NOT NULL,
    size_bytes  INTEGER NOT NULL,
    etag        TEXT NOT NULL,
    PRIMARY KEY (video_id, part_number)
) WITHOUT ROWID;
)sql";

class Stmt {
public:
    Stmt(sqlite3 *db, const char *sql) : m_db(db)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK)
            throw MetadataError(std::string("prepare: ") + sqlite3_errmsg(db));
    }
    ~Stmt() { sqlite3_finalize(m_stmt); }
    Stmt(const Stmt &) = delete;
    Stmt &operator=(const Stmt &) = delete;

    Stmt &bind(int i, const std::string &s)
    {
        check(sqlite3_bind_text(m_stmt, i, s.data(), int(s.size()), SQLITE_TRANSIENT));
        return *this;
    }
    Stmt &bind(int i, std::int64_t v)
    {
        check(sqlite3_bind_int64(m_stmt, i, v));
        return *this;
    }
    Stmt &bind(int i, const std::optional<std::int64_t> &v)
    {
        check(v ? sqlite3_bind_int64(m_stmt, i, *v) : sqlite3_bind_null(m_stmt, i));
        return *this;
    }

    // True while there is a row.
    bool step()
    {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        throw MetadataError(std::string("step: ") + sqlite3_errmsg(m_db));
    }
    void run()
    {
        while (step()) {
        }
    }
    // Runs it; true when it changed a row.
    bool changed()
    {
        run();
        return sqlite3_changes(m_db) > 0;
    }
    // Every row, each made by read(*this).
    template <class Read> auto all(Read read)
    {
        std::vector<decltype(read(*this))> out;
        while (step())
            out.push_back(read(*this));
        return out;
    }

    std::string text(int col) const
    {
        const auto *p = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, col));
        return p ? std::string(p, std::size_t(sqlite3_column_bytes(m_stmt, col))) : std::string();
    }
    std::int64_t integer(int col) const { return sqlite3_column_int64(m_stmt, col); }
    bool isNull(int col) const { return sqlite3_column_type(m_stmt, col) == SQLITE_NULL; }
    std::optional<std::int64_t> optInteger(int col) const
    {
        if (sqlite3_column_type(m_stmt, col) == SQLITE_NULL)
            return std::nullopt;
        return sqlite3_column_int64(m_stmt, col);
    }

private:
    void check(int rc)
    {
        if (rc != SQLITE_OK)
            throw MetadataError(std::string("bind: ") + sqlite3_errmsg(m_db));
    }

    sqlite3 *m_db;
    sqlite3_stmt *m_stmt = nullptr;
};

const char *kVideoColumns = "id, owner, title, state, created_at_ms, expires_at_ms, part_size, completed_at_ms, "
                            "size_bytes, duration_ms, width, height, parts_digest";

VideoRow readVideo(const Stmt &s)
{
    VideoRow r;
    r.id = s.text(0);
    r.owner = s.text(1);
    r.title = s.text(2);
    const std::string state = s.text(3);
    r.state =
        state == "ready" ? VideoState::Ready : (state == "completing" ? VideoState::Completing : VideoState::Uploading);
    r.createdAtMs = s.integer(4);
    r.expiresAtMs = s.integer(5);
    r.partSize = s.integer(6);
    r.completedAtMs = s.optInteger(7);
    r.sizeBytes = s.optInteger(8);
    r.durationMs = s.optInteger(9);
    r.width = s.optInteger(10);
    r.height = s.optInteger(11);
    if (!s.isNull(12))
        r.partsDigest = s.text(12);
    return r;
}

const char *stateName(VideoState state)
{
    switch (state) {
    case VideoState::Ready:
        return "ready";
    case VideoState::Completing:
        return "completing";
    default:
        return "uploading";
    }
}

std::string selectVideos(const char *rest)
{
    return std::string("SELECT ") + kVideoColumns + " FROM videos " + rest;
}

std::string firstText(const Stmt &s)
{
    return s.text(0);
}

PartRow readPart(const Stmt &s, int col)
{
    return PartRow{int(s.integer(col)), s.integer(col + 1), s.text(col + 2)};
}

void execSql(sqlite3 *db, const char *sql)
{
    char *err = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        const std::string msg = err ? err : "unknown error";
        sqlite3_free(err);
        throw MetadataError("sqlite: " + msg);
    }
}

// Runs body in one write transaction, rolled back if it throws.
template <class Body> auto inTransaction(sqlite3 *db, Body body)
{
    execSql(db, "BEGIN IMMEDIATE");
    try {
        auto result = body();
        execSql(db, "COMMIT");
        return result;
    } catch (...) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

// Commits made while it lives are not synced on their own; the next synced
// commit (or checkpoint) carries them to the disk, in order.
class UnsyncedCommits {
public:
    explicit UnsyncedCommits(sqlite3 *db) : m_db(db) { execSql(m_db, "PRAGMA synchronous=NORMAL"); }
    ~UnsyncedCommits() { sqlite3_exec(m_db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr); }
    UnsyncedCommits(const UnsyncedCommits &) = delete;
    UnsyncedCommits &operator=(const UnsyncedCommits &) = delete;

private:
    sqlite3 *m_db;
};

// The parts of a video beyond part `after` go (all of them by default).
void deleteParts(sqlite3 *db, const std::string &id, int after = 0)
{
    Stmt d(db, "DELETE FROM parts WHERE video_id = ?1 AND part_number > ?2");
    d.bind(1, id).bind(2, std::int64_t(after));
    d.run();
}

} // namespace

SqliteMetadata::SqliteMetadata(const std::filesystem::path &file)
{
    // Readable by the owner only; SQLite gives its WAL files the same mode.
    if (const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600); fd >= 0)
        ::close(fd);
    if (sqlite3_open_v2(file.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        const std::string msg = m_db ? sqlite3_errmsg(m_db) : "out of memory";
        sqlite3_close(m_db);
        m_db = nullptr;
        throw MetadataError("cannot open " + file.string() + ": " + msg);
    }
    sqlite3_busy_timeout(m_db, 5000);
    exec("PRAGMA journal_mode=WAL");
    exec("PRAGMA synchronous=FULL");
    exec("PRAGMA foreign_keys=ON");
    int version = 0;
    {
        Stmt s(m_db, "PRAGMA user_version");
        if (s.step())
            version = int(s.integer(0));
    }
    if (version > kSchemaVersion)
        throw MetadataError("the database was made by a newer mivra-server (schema " + std::to_string(version) + ")");
    inTransaction(m_db, [&] {
        if (version == 1)
            exec("ALTER TABLE videos ADD COLUMN parts_digest TEXT");
        exec(kSchema);
        exec(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
        return true;
    });
}

SqliteMetadata::~SqliteMetadata()
{
    sqlite3_close(m_db);
}

void SqliteMetadata::exec(const char *sql)
{
    execSql(m_db, sql);
}

void SqliteMetadata::insertVideo(const VideoRow &r)
{
    std::lock_guard lock(m_mutex);
    Stmt s(m_db, "INSERT INTO videos (id, owner, title, state, created_at_ms, expires_at_ms, part_size, "
                 "completed_at_ms, size_bytes, duration_ms, width, height) "
                 "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)");
    s.bind(1, r.id).bind(2, r.owner).bind(3, r.title);
    s.bind(4, std::string(stateName(r.state)));
    s.bind(5, r.createdAtMs).bind(6, r.expiresAtMs).bind(7, r.partSize).bind(8, r.completedAtMs);
    s.bind(9, r.sizeBytes).bind(10, r.durationMs).bind(11, r.width).bind(12, r.height);
    s.run();
}

std::optional<VideoRow> SqliteMetadata::findVideo(const std::string &id)
{
    std::lock_guard lock(m_mutex);
    Stmt s(m_db, selectVideos("WHERE id = ?1").c_str());
    s.bind(1, id);
    if (!s.step())
        return std::nullopt;
    return readVideo(s);
}

std::vector<VideoRow> SqliteMetadata::listReady(const std::string &owner, std::int64_t nowMs, std::size_t limit,
                                                const std::optional<ListCursor> &after)
{
    std::lock_guard lock(m_mutex);
    Stmt s(m_db, selectVideos("WHERE owner = ?1 AND state = 'ready' AND expires_at_ms > ?2 "
                              "AND (?3 IS NULL OR created_at_ms < ?3 OR (created_at_ms = ?3 AND id > ?4)) "
                              "ORDER BY created_at_ms DESC, id LIMIT ?5")
                     .c_str());
    s.bind(1, owner).bind(2, nowMs);
    s.bind(3, after ? std::optional<std::int64_t>(after->createdAtMs) : std::nullopt);
    s.bind(4, after ? after->id : std::string());
    s.bind(5, std::int64_t(limit));
    return s.all(readVideo);
}

bool SqliteMetadata::setTitle(const std::string &id, const std::string &title)
{
    std::lock_guard lock(m_mutex);
    Stmt s(m_db, "UPDATE videos SET title = ?2 WHERE id = ?1");
    s.bind(1, id).bind(2, title);
    return s.changed();
}

bool SqliteMetadata::setExpiry(const std::string &id, std::int64_t expiresAtMs)
{
    std::lock_guard lock(m_mutex);
    Stmt s(m_db, "UPDATE videos SET expires_at_ms = ?2 WHERE id = ?1");
    s.bind(1, id).bind(2, expiresAtMs);
    return s.changed();
}

std::optional<std::string> SqliteMetadata::putPart(const std::string &id, const PartRow &part)
{
    std::lock_guard lock(m_mutex);
    const UnsyncedCommits unsynced(m_db);
    return inTransaction(m_db, [&] {
        std::optional<std::string> previous;
        {
            Stmt s(m_db, "SELECT etag FROM parts WHERE video_id = ?1 AND part_number = ?2");
            s.bind(1, id).bind(2, std::int64_t(part.number));
            if (s.step())
                previous = s.text(0);
        }
        Stmt s(m_db, "INSERT INTO parts (video_id, part_number, size_bytes, etag) VALUES (?1, ?2, ?3, ?4) "
                     "ON CONFLICT (video_id, part_number) DO UPDATE SET size_bytes = excluded.size_bytes, "
                     "etag = excluded.etag");
        s.bind(1, id).bind(2, std::int64_t(part.number)).bind(3, part.sizeBytes).bind(4, part.etag);
        s.run();
        return previous;
    });
}

std::vector<PartRow> SqliteMetadata::parts(const std::string &id)
{
    std::lock_guard lock(m_mutex);
    Stmt s(m_db, "SELECT part_number, size_bytes, etag FROM parts WHERE video_id = ?1 ORDER BY part_number");
    s.bind(1, id);
    return s.all([](const Stmt &row) { return readPart(row, 0); });
}

void SqliteMetadata::deletePart(const std::string &id, int number)
{
    std::lock_guard lock(m_mutex);
    const UnsyncedCommits unsynced(m_db);
    Stmt s(m_db, "DELETE FROM parts WHERE video_id = ?1 AND part_number = ?2");
    s.bind(1, id).bind(2, std::int64_t(number));
    s.run();
}

bool SqliteMetadata::markReady(const VideoRow &f)
{
    std::lock_guard lock(m_mutex);
    return inTransaction(m_db, [&] {
        Stmt s(m_db, "UPDATE videos SET state = 'ready', completed_at_ms = ?2, size_bytes = ?3, duration_ms = ?4, "
                     "width = ?5, height = ?6 WHERE id = ?1 AND state = 'uploading'");
        s.bind(1, f.id).bind(2, f.completedAtMs).bind(3, f.sizeBytes).bind(4, f.durationMs);
        s.bind(5, f.width).bind(6, f.height);
        const bool changed = s.changed();
        if (changed)
            deleteParts(m_db, f.id);
        return changed;
    });
}

bool SqliteMetadata::beginComplete(const VideoRow &f, int lastPart)
{
    std::lock_guard lock(m_mutex);
    return inTransaction(m_db, [&] {
        Stmt s(m_db, "UPDATE videos SET state = 'completing', completed_at_ms = ?2, size_bytes = ?3, "
                     "duration_ms = ?4, width = ?5, height = ?6, parts_digest = ?7 "
                     "WHERE id = ?1 AND state = 'uploading'");
        s.bind(1, f.id).bind(2, f.completedAtMs).bind(3, f.sizeBytes).bind(4, f.durationMs);
        s.bind(5, f.width).bind(6, f.height).bind(7, f.partsDigest.value_or(std::string()));
        const bool changed = s.changed();
        if (changed)
            deleteParts(m_db, f.id, lastPart);
        return changed;
    });
}

bool SqliteMetadata::finishComplete(const std::string &id)
{
    std::lock_guard lock(m_mutex);
    return inTransaction(m_db, [&] {
        Stmt s(m_db, "UPDATE videos SET state = 'ready' WHERE id = ?1 AND state = 'completing'");
        s.bind(1, id);
        const bool changed = s.changed();
        if (changed)
            deleteParts(m_db, id);
        return changed;
    });
}

bool SqliteMetadata::abortComplete(const std::string &id)
{
    std::lock_guard lock(m_mutex);
    return inTransaction(m_db, [&] {
        Stmt s(m_db, "UPDATE videos SET state = 'uploading', completed_at_ms = NULL, size_bytes = NULL, "
                     "parts_digest = NULL WHERE id = ?1 AND state = 'completing'");
        s.bind(1, id);
        const bool changed = s.changed();
        deleteParts(m_db, id);
        return changed;
    });
}

Usage SqliteMetadata::usage(const std::string &owner)
{
    std::lock_guard lock(m_mutex);
    Usage u;
    Stmt s(m_db, "SELECT COUNT(*), COALESCE(SUM(state = 'uploading'), 0), COALESCE(SUM(size_bytes), 0) "
                 "FROM videos WHERE owner = ?1");
    s.bind(1, owner);
    if (s.step()) {
        u.videos = s.integer(0);
        u.uploading = s.integer(1);
        u.bytes = s.integer(2);
    }
    Stmt p(m_db, "SELECT COALESCE(SUM(p.size_bytes), 0) FROM parts p JOIN videos v ON v.id = p.video_id "
                 "WHERE v.owner = ?1 AND v.state = 'uploading'");
    p.bind(1, owner);
    if (p.step())
        u.bytes += p.integer(0);
    return u;
}

bool SqliteMetadata::deleteVideo(const std::string &id)
{
    std::lock_guard lock(m_mutex);
    Stmt s(m_db, "DELETE FROM videos WHERE id = ?1"); // parts go by ON DELETE CASCADE
    s.bind(1, id);
    return s.changed();
}

std::vector<std::string> SqliteMetadata::expiredIds(std::int64_t nowMs)
{
    std::lock_guard lock(m_mutex);
    Stmt s(m_db, "SELECT id FROM videos WHERE expires_at_ms <= ?1");
    s.bind(1, nowMs);
    return s.all(firstText);
}

std::vector<std::string> SqliteMetadata::staleUploadIds(std::int64_t createdByMs)
{
    std::lock_guard lock(m_mutex);
    Stmt s(m_db, "SELECT id FROM videos WHERE state = 'uploading' AND created_at_ms <= ?1");
    s.bind(1, createdByMs);
    return s.all(firstText);
}

std::vector<VideoRow> SqliteMetadata::allVideos()
{
    std::lock_guard lock(m_mutex);
    Stmt s(m_db, selectVideos("ORDER BY id").c_str());
    return s.all(readVideo);
}

std::vector<std::pair<std::string, PartRow>> SqliteMetadata::allParts()
{
    std::lock_guard lock(m_mutex);
    Stmt s(m_db, "SELECT video_id, part_number, size_bytes, etag FROM parts ORDER BY video_id, part_number");
    return s.all([](const Stmt &row) { return std::make_pair(row.text(0), readPart(row, 1)); });
}
