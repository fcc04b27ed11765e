#include "ServerTestSupport.h"

#include "LocalStorage.h"
#include "SqliteMetadata.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fstream>
#include <poll.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace servertest {

std::string videoBytes(std::size_t size)
{
    std::string s(size, '\0');
    crypto::randomBytes(s.data(), s.size());
    const std::size_t n = std::min<std::size_t>(size, 12);
    return s.replace(0, n, std::string("\0\0\0\x18\x66typisom", 12), 0, n); // \x66: "f"
}

std::string Http::header(const char *name) const
{
    auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
}

json::Value Http::json() const
{
    json::ParseResult r = json::parse(body);
    EXPECT_TRUE(r.value.has_value()) << "not JSON (" << r.error << "): " << body;
    return r.value ? *r.value : json::Value();
}

std::string Http::id() const
{
    const json::Value v = json();
    const json::Value *id = v.find("id");
    return id && id->isString() ? id->asString() : std::string();
}

Http Api::send(const char *method, const std::string &path, const std::string &body, const std::string &contentType,
               httplib::Headers headers, bool withToken) const
{
    httplib::Client client("127.0.0.1", m_port);
    client.set_url_encode(false);
    client.set_connection_timeout(5, 0);
    client.set_read_timeout(30, 0);
    client.set_write_timeout(30, 0);
    httplib::Request request;
    request.method = method;
    request.path = path;
    request.headers = std::move(headers);
    if (withToken)
        request.headers.emplace("X-Device-Token", m_token);
    if (!contentType.empty()) {
        request.body = body;
        request.headers.emplace("Content-Type", contentType);
    }
    const httplib::Result r = client.send(request);
    return r ? Http{r->status, r->body, r->headers} : Http{};
}

std::string Api::create(const std::string &title, const std::string &extraJson) const
{
    std::string body = "{\"title\":";
    json::appendQuoted(body, title);
    const Http r =
        post("/api/videos", body + ",\"contentType\":\"video/mp4\"" + (extraJson.empty() ? "" : "," + extraJson) + "}");
    EXPECT_TRUE(r.status >= 200 && r.status < 300) << r.status << " " << r.body;
    return r.id();
}

std::vector<std::string> Api::putParts(const std::string &id, const std::string &bytes, std::int64_t partSize) const
{
    std::vector<std::string> replies;
    int n = 1;
    for (std::size_t off = 0; off < bytes.size(); off += std::size_t(partSize), ++n) {
        const Http r =
            put("/api/videos/" + id + "/parts/" + std::to_string(n), bytes.substr(off, std::size_t(partSize)));
        EXPECT_EQ(r.status, 200) << r.body;
        replies.push_back(r.body);
    }
    return replies;
}

std::string Api::completeBody(const std::vector<std::string> &partReplies)
{
    std::string body;
    for (const std::string &reply : partReplies)
        body += (body.empty() ? "" : ",") + reply;
    return "{\"parts\":[" + body + "]}";
}

std::string Api::uploadMultipart(const std::string &bytes, std::int64_t partSize, const std::string &title,
                                 const std::string &extraJson) const
{
    const std::string id = create(title, extraJson);
    const Http r = complete(id, putParts(id, bytes, partSize));
    EXPECT_EQ(r.status, 200) << r.body;
    return id;
}

InProcessServer::InProcessServer(const std::function<void(ServerConfig &)> &configure, const fs::path &dataDir)
    : m_clock(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
                  .count())
{
    m_dataDir = dataDir.empty() ? m_ownDir.emplace().path() / "data" : dataDir;
    ServerConfig config;
    config.port = 0;
    config.dataDir = m_dataDir;
    config.partSize = kServerPartSize;
    config.maxVideoBytes = 64 * 1024 * 1024;
    config.sweepIntervalMs = 3600 * 1000;
    config.threads = 64;
    config.logRequests = std::getenv("MIVRA_SERVER_TEST_LOG") != nullptr;
    if (configure)
        configure(config);
    m_app = std::make_unique<ServerApp>(config, m_clock);
    m_app->start();
}

RawConnection::RawConnection(int port, const char *from) : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
{
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, from, &local.sin_addr);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(std::uint16_t(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(m_fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0 ||
        ::connect(m_fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

RawConnection::~RawConnection()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void RawConnection::send(const std::string &bytes) const
{
    for (std::size_t sent = 0; sent < bytes.size();) {
        const ssize_t n = ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += std::size_t(n);
    }
}

void RawConnection::closeWrite() const
{
    ::shutdown(m_fd, SHUT_WR);
}

std::string RawConnection::readAll(int idleMs) const
{
    std::string answer;
    char buf[65536];
    for (pollfd p{m_fd, POLLIN, 0}; ::poll(&p, 1, idleMs) > 0;) {
        const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        answer.append(buf, std::size_t(n));
    }
    return answer;
}

std::string rawHead(const std::string &method, const std::string &target, const std::string &headers)
{
    return method + " " + target + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n" + headers + "\r\n";
}

std::string rawRequest(int port, const std::string &request)
{
    const RawConnection c(port);
    c.send(request);
    return c.readAll();
}

int rawStatus(const std::string &answer)
{
    if (answer.rfind("HTTP/1.", 0) != 0 || answer.size() < 12)
        return 0;
    return std::atoi(answer.c_str() + 9);
}

std::vector<std::string> checkConsistency(const fs::path &dataDir)
{
    std::vector<std::string> problems;
    LocalStorage storage(dataDir);
    SqliteMetadata metadata(dataDir / "mivra.sqlite3");

    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(storage.tmpDir(), ec))
        problems.push_back("left in tmp/: " + entry.path().filename().string());

    std::map<std::string, VideoRow> rows;
    for (const VideoRow &row : metadata.allVideos()) {
        rows.emplace(row.id, row);
        if (row.state == VideoState::Completing)
            problems.push_back("a complete left unfinished: " + row.id);
        const std::uintmax_t size = fs::file_size(storage.mediaPath(row.id), ec);
        if (row.state == VideoState::Ready && (ec || size != std::uintmax_t(row.sizeBytes.value_or(-1))))
            problems.push_back("ready row without its media of the recorded size: " + row.id);
    }
    auto isIn = [&](const std::string &id, VideoState state) {
        const auto it = rows.find(id);
        return it != rows.end() && it->second.state == state;
    };
    for (const std::string &id : storage.listMedia())
        if (!isIn(id, VideoState::Ready))
            problems.push_back("media without a ready row: " + id);
    for (const std::string &id : storage.listUploads())
        if (!isIn(id, VideoState::Uploading))
            problems.push_back("upload file of a video not uploading: " + id);
    // Every recorded part: its bytes, where the upload keeps them, have its digest.
    for (const auto &[id, part] : metadata.allParts()) {
        if (!isIn(id, VideoState::Uploading)) {
            problems.push_back("part row of a video not uploading: " + id);
            continue;
        }
        std::ifstream f(storage.uploadPath(id), std::ios::binary);
        f.seekg(std::streamoff(part.number - 1) * std::streamoff(rows.at(id).partSize));
        std::string bytes(std::size_t(part.sizeBytes), '\0');
        f.read(bytes.data(), std::streamsize(bytes.size()));
        if (f.gcount() != std::streamsize(bytes.size()) || crypto::partEtag(bytes) != part.etag)
            problems.push_back("stored bytes do not match part row " + id + " #" + std::to_string(part.number));
    }
    return problems;
}

} // namespace servertest
