#include "LocalStorage.h"

#include "CrashPoint.h"
#include "Crypto.h"
#include "Poster.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kWriteBuffer = 1 << 20; // bytes gathered before one write(2)

[[noreturn]] void fail(const std::string &what, int err = errno)
{
    throw StorageError(what + ": " + std::strerror(err), err);
}

class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return m_fd; }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }
    // Closes and reports a failure of close (which can carry a deferred write error).
    void close(const std::string &what)
    {
        const int fd = m_fd;
        m_fd = -1;
        if (fd >= 0 && ::close(fd) != 0 && errno != EINTR)
            fail(what);
    }

private:
    int m_fd;
};

void writeAll(int fd, const char *data, std::size_t size, const std::string &what)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail(what);
        }
        data += n;
        size -= std::size_t(n);
    }
}

void fsyncFd(int fd, const std::string &what)
{
    if (::fsync(fd) != 0)
        fail(what);
}

void fsyncDir(const fs::path &dir)
{
    Fd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0)
        fail("open " + dir.string());
    fsyncFd(fd.get(), "fsync " + dir.string());
}

void renameDurably(const fs::path &from, const fs::path &to)
{
    if (::rename(from.c_str(), to.c_str()) != 0)
        fail("rename to " + to.string());
    fsyncDir(to.parent_path());
}

void checkId(const std::string &videoId)
{
    if (!crypto::isVideoId(videoId))
        throw StorageError("invalid video id");
}

// Writes a stream of bytes into a file from an offset on: small pieces are
// gathered into one write, large ones go straight to the file. Each write
// also starts the disk's write-back of its bytes (no waiting), so the one
// sync at the end finds little left to write.
class FileFiller {
public:
    FileFiller(int fd, std::uint64_t offset, std::string what) : m_fd(fd), m_offset(offset), m_what(std::move(what)) {}

    void write(const char *data, std::size_t size)
    {
        m_size += size;
        if (m_used == 0 && size >= kWriteBuffer)
            return put(data, size);
        if (!m_buffer)
            m_buffer = std::make_unique<char[]>(kWriteBuffer);
        while (size > 0) {
            const std::size_t n = std::min(size, kWriteBuffer - m_used);
            std::memcpy(m_buffer.get() + m_used, data, n);
            m_used += n;
            data += n;
            size -= n;
            if (m_used == kWriteBuffer)
                flush();
        }
    }

    std::uint64_t size() const { return m_size; }
    const std::string &what() const { return m_what; }

    void flush()
    {
        put(m_buffer.get(), m_used);
        m_used = 0;
    }
    void release()
    {
        flush();
        m_buffer.reset();
    }

private:
    void put(const char *p, std::size_t size)
    {
        const std::uint64_t start = m_offset + m_written;
        for (std::size_t left = size; left > 0;) {
            const ssize_t n = ::pwrite(m_fd, p, left, off_t(m_offset + m_written));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                fail("write " + m_what);
            }
            p += n;
            left -= std::size_t(n);
            m_written += std::uint64_t(n);
        }
        if (size > 0)
            ::sync_file_range(m_fd, off_t(start), off_t(size), SYNC_FILE_RANGE_WRITE);
    }

    int m_fd;
    std::uint64_t m_offset;
    std::string m_what;
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_used = 0;
    std::uint64_t m_written = 0;
    std::uint64_t m_size = 0;
};

// A file in tmp/ that is removed again unless it was renamed into place.
class TempFile {
public:
    explicit TempFile(const fs::path &tmpDir)
    {
        unsigned char r[12];
        crypto::randomBytes(r, sizeof r);
        m_path = tmpDir / (crypto::toHex(r, sizeof r) + ".blob");
        m_fd.reset(::open(m_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (m_fd.get() < 0)
            fail("create " + m_path.string());
    }
    ~TempFile()
    {
        m_fd.reset();
        if (!m_placed)
            ::unlink(m_path.c_str());
    }
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;

    int fd() const { return m_fd.get(); }
    const fs::path &path() const { return m_path; }

    // fsync, close, rename to target and fsync target's folder.
    void place(const fs::path &target, const char *crashPointName)
    {
        fsyncFd(m_fd.get(), "fsync " + m_path.string());
        m_fd.close("close " + m_path.string());
        crashPoint(crashPointName);
        renameDurably(m_path, target);
        m_placed = true;
    }

private:
    fs::path m_path;
    Fd m_fd;
    bool m_placed = false;
};

class LocalBlob final : public BlobWriter {
public:
    explicit LocalBlob(const fs::path &tmpDir) : m_file(tmpDir), m_filler(m_file.fd(), 0, m_file.path().string()) {}

    void write(const char *data, std::size_t size) override { m_filler.write(data, size); }
    std::uint64_t size() const override { return m_filler.size(); }

    void place(const fs::path &target, const char *crashPointName)
    {
        m_filler.release();
        m_file.place(target, crashPointName);
    }

private:
    TempFile m_file;
    FileFiller m_filler;
};

class LocalMediaReader final : public MediaReader {
public:
    LocalMediaReader(int fd, std::uint64_t size) : m_fd(fd), m_size(size) {}
    std::uint64_t size() const override { return m_size; }
    void read(std::uint64_t offset, char *buf, std::size_t size) override
    {
        while (size > 0) {
            const ssize_t n = ::pread(m_fd.get(), buf, size, off_t(offset));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                fail("read media");
            }
            if (n == 0)
                throw StorageError("read media: unexpected end of file");
            buf += n;
            size -= std::size_t(n);
            offset += std::uint64_t(n);
        }
    }

private:
    Fd m_fd;
    std::uint64_t m_size;
};

// Part n of an upload, written in place in the upload's file.
class LocalPartWriter final : public PartWriter {
public:
    LocalPartWriter(int fd, std::uint64_t offset, std::string what) : m_fd(fd), m_filler(fd, offset, std::move(what)) {}

    void write(const char *data, std::size_t size) override { m_filler.write(data, size); }
    std::uint64_t size() const override { return m_filler.size(); }

    // The bytes reach the page cache only: the one fdatasync comes when the
    // upload is published. A restart after the machine itself went down
    // checks recorded parts against their digests (see Service::recover).
    void finish() override
    {
        m_filler.release();
        m_fd.close("close " + m_filler.what());
    }

private:
    Fd m_fd;
    FileFiller m_filler;
};

} // namespace

LocalStorage::LocalStorage(fs::path root)
    : m_root(std::move(root)), m_media(m_root / "media"), m_uploads(m_root / "uploads"), m_tmp(m_root / "tmp")
{
    std::error_code ec;
    for (const fs::path &p : {m_root, m_media, m_uploads, m_tmp}) {
        fs::create_directories(p, ec);
        if (!ec)
            fs::permissions(p, fs::perms::owner_all, ec); // the videos are the owner's alone
        if (ec)
            throw StorageError("cannot create " + p.string() + ": " + ec.message());
    }
}

fs::path LocalStorage::mediaPath(const std::string &videoId) const
{
    checkId(videoId);
    return m_media / (videoId + ".mp4");
}

fs::path LocalStorage::uploadPath(const std::string &videoId) const
{
    checkId(videoId);
    return m_uploads / videoId;
}

std::unique_ptr<PartWriter> LocalStorage::writePart(const std::string &videoId, int number, std::int64_t partSize)
{
    if (number < 1 || partSize < 1)
        throw StorageError("invalid part");
    const fs::path p = uploadPath(videoId);
    int fd = ::open(p.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            fsyncDir(m_uploads); // the file must outlive a crash before any part is recorded
        } else if (errno == EEXIST) {
            fd = ::open(p.c_str(), O_WRONLY | O_CLOEXEC);
        }
    }
    if (fd < 0)
        fail("open " + p.string());
    const std::uint64_t offset = std::uint64_t(number - 1) * std::uint64_t(partSize);
    // The part's blocks are claimed before its bytes arrive, so a full disk
    // refuses the part at once; the file's size grows only as bytes land.
    const int err = ::fallocate(fd, FALLOC_FL_KEEP_SIZE, off_t(offset), off_t(partSize));
    if (err != 0 && errno != EOPNOTSUPP && errno != ENOSYS) {
        const int e = errno;
        ::close(fd);
        fail("allocate " + p.string(), e);
    }
    return std::make_unique<LocalPartWriter>(fd, offset, p.string() + " part " + std::to_string(number));
}

void LocalStorage::publishParts(const std::string &videoId, const std::vector<PartRef> &parts, std::int64_t partSize,
                                std::uint64_t totalBytes)
{
    // In place, parts 1..N already form the file; anything after part N goes.
    for (std::size_t i = 0; i < parts.size(); ++i)
        if (parts[i].number != int(i) + 1 || (i + 1 < parts.size() && parts[i].sizeBytes != std::uint64_t(partSize)))
            throw StorageError("parts must be 1..N, each but the last partSize long");
    const fs::path from = uploadPath(videoId);
    const fs::path to = mediaPath(videoId);
    Fd fd(::open(from.c_str(), O_WRONLY | O_CLOEXEC));
    if (fd.get() < 0)
        fail("open " + from.string());
    if (::ftruncate(fd.get(), off_t(totalBytes)) != 0)
        fail("truncate " + from.string());
    // The parts' one sync: data and size, not every part on its own.
    if (::fdatasync(fd.get()) != 0)
        fail("fdatasync " + from.string());
    fd.close("close " + from.string());
    crashPoint("upload-synced");
    renameDurably(from, to);
    fsyncDir(m_uploads);
}

namespace {
// Only a definite "does not exist" is false; any other failure throws, so
// start-up never deletes records over a passing error.
bool fileExists(const fs::path &p)
{
    struct stat st {};
    if (::stat(p.c_str(), &st) == 0)
        return S_ISREG(st.st_mode);
    if (errno == ENOENT)
        return false;
    fail("stat " + p.string());
}
} // namespace

bool LocalStorage::hasUpload(const std::string &videoId)
{
    return fileExists(uploadPath(videoId));
}

std::string LocalStorage::uploadHead(const std::string &videoId, std::size_t size)
{
    const fs::path p = uploadPath(videoId);
    Fd fd(::open(p.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0)
        fail("open " + p.string());
    std::string head(size, '\0');
    const ssize_t n = ::pread(fd.get(), head.data(), size, 0);
    if (n < 0)
        fail("read " + p.string());
    head.resize(std::size_t(n));
    return head;
}

bool LocalStorage::partMatches(const std::string &videoId, int number, std::int64_t partSize, std::uint64_t sizeBytes,
                               const std::string &etag)
{
    const std::optional<crypto::PartDigest::Kind> kind = crypto::PartDigest::kindOf(etag);
    if (!kind)
        return false;
    const fs::path p = uploadPath(videoId);
    Fd fd(::open(p.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0)
        return false;
    crypto::PartDigest digest(*kind);
    std::vector<char> buf(kWriteBuffer);
    std::uint64_t offset = std::uint64_t(number - 1) * std::uint64_t(partSize);
    for (std::uint64_t left = sizeBytes; left > 0;) {
        const ssize_t n = ::pread(fd.get(), buf.data(), std::min<std::uint64_t>(left, buf.size()), off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        digest.update(buf.data(), std::size_t(n));
        offset += std::uint64_t(n);
        left -= std::uint64_t(n);
    }
    return digest.finishEtag() == etag;
}

std::optional<std::uint64_t> LocalStorage::uploadExtent(const std::string &videoId)
{
    const fs::path p = uploadPath(videoId);
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0) {
        if (errno == ENOENT)
            return std::nullopt;
        fail("stat " + p.string());
    }
    return std::uint64_t(st.st_size);
}

void LocalStorage::removeUpload(const std::string &videoId)
{
    const fs::path p = uploadPath(videoId);
    if (::unlink(p.c_str()) != 0 && errno != ENOENT)
        fail("remove " + p.string());
}

std::vector<std::string> LocalStorage::listUploads()
{
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(m_uploads, ec)) {
        const std::string name = entry.path().filename().string();
        if (crypto::isVideoId(name))
            out.push_back(name);
    }
    return out;
}

std::unique_ptr<BlobWriter> LocalStorage::newBlob()
{
    return std::make_unique<LocalBlob>(m_tmp);
}

void LocalStorage::keepAsMedia(BlobWriter &blob, const std::string &videoId)
{
    auto &local = dynamic_cast<LocalBlob &>(blob);
    local.place(mediaPath(videoId), "media-synced");
}

std::unique_ptr<MediaReader> LocalStorage::openMedia(const std::string &videoId)
{
    const fs::path p = mediaPath(videoId);
    const int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return nullptr;
        fail("open " + p.string());
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        fail("stat " + p.string(), err);
    }
    return std::make_unique<LocalMediaReader>(fd, std::uint64_t(st.st_size));
}

bool LocalStorage::hasMedia(const std::string &videoId)
{
    return fileExists(mediaPath(videoId));
}

void LocalStorage::removeMedia(const std::string &videoId)
{
    const fs::path p = mediaPath(videoId);
    if (::unlink(p.c_str()) != 0 && errno != ENOENT)
        fail("remove " + p.string());
    const fs::path poster = m_media / (videoId + ".jpg");
    if (::unlink(poster.c_str()) != 0 && errno != ENOENT)
        fail("remove " + poster.string());
}

bool LocalStorage::makePoster(const std::string &videoId)
{
    const std::optional<std::string> jpeg = ::makePoster(mediaPath(videoId));
    if (!jpeg)
        return false;
    TempFile file(m_tmp);
    writeAll(file.fd(), jpeg->data(), jpeg->size(), "write " + file.path().string());
    file.place(m_media / (videoId + ".jpg"), "poster-synced");
    return true;
}

std::optional<std::string> LocalStorage::readPoster(const std::string &videoId)
{
    checkId(videoId);
    std::ifstream in(m_media / (videoId + ".jpg"), std::ios::binary);
    if (!in)
        return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> LocalStorage::listMedia()
{
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(m_media, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() > 4 && name.ends_with(".mp4") && crypto::isVideoId(name.substr(0, name.size() - 4)))
            out.push_back(name.substr(0, name.size() - 4));
    }
    return out;
}

std::optional<std::uint64_t> LocalStorage::freeBytes()
{
    struct statvfs st {};
    if (::statvfs(m_root.c_str(), &st) != 0)
        return std::nullopt;
    return std::uint64_t(st.f_bavail) * std::uint64_t(st.f_frsize);
}

void LocalStorage::removeTemporaries()
{
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(m_tmp, ec)) {
        std::error_code ec2;
        fs::remove_all(entry.path(), ec2);
    }
}
