#pragma once

// Helpers for the tests of mivra-server: a temporary data folder, the server
// in-process with a manual clock (the real process: support/ServerProcess.h),
// an HTTP client that sends the device token, and raw-socket requests for
// what a polite client would never send.

#include "Clock.h"
#include "Crypto.h"
#include "Json.h"
#include "ServerApp.h"
#include "ServerProcess.h"

#include <QDir>
#include <QTemporaryDir>
#include <httplib.h>

#include <functional>
#include <optional>

namespace servertest {

// A fresh folder under $TMPDIR, removed at the end.
class TempDir {
public:
    std::filesystem::path path() const { return m_dir.path().toStdString(); }

private:
    QTemporaryDir m_dir{QDir::tempPath() + QStringLiteral("/mivra-server-test.XXXXXX")};
};

// 64 lowercase hex digits, the shape the client's tokens have.
inline std::string newToken()
{
    return crypto::sha256Hex(crypto::newVideoId());
}
// size bytes that begin like an MP4 (a file-type box), the rest random.
std::string videoBytes(std::size_t size);
using crypto::partEtag;

// A reply, in the shape tests want it.
struct Http {
    int status = 0; // 0: no reply (the connection failed)
    std::string body;
    httplib::Headers headers;

    std::string header(const char *name) const;
    json::Value json() const; // fails the test (and returns null) when the body is not JSON
    std::string id() const;   // the record's "id", or empty
};

// A client for one server; every request but the public ones sends the token.
class Api {
public:
    Api(int port, std::string token) : m_port(port), m_token(std::move(token)) {}

    Http get(const std::string &path) const { return send("GET", path); }
    Http post(const std::string &path, const std::string &body,
              const std::string &contentType = "application/json") const
    {
        return send("POST", path, body, contentType);
    }
    Http put(const std::string &path, const std::string &body,
             const std::string &contentType = "application/octet-stream") const
    {
        return send("PUT", path, body, contentType);
    }
    Http del(const std::string &path) const { return send("DELETE", path); }
    // Without the token (GET or HEAD).
    Http publicGet(const std::string &path, httplib::Headers extra = {}, const char *method = "GET") const
    {
        return send(method, path, {}, {}, std::move(extra), false);
    }
    // The complete of the video at `id`, by the replies of its parts.
    Http complete(const std::string &id, const std::vector<std::string> &partReplies) const
    {
        return post("/api/videos/" + id + "/complete", completeBody(partReplies));
    }

    // create -> id (fails the test unless 2xx)
    std::string create(const std::string &title = "A video", const std::string &extraJson = "") const;
    // create, send bytes in parts of partSize, complete -> id
    std::string uploadMultipart(const std::string &bytes, std::int64_t partSize, const std::string &title = "A video",
                                const std::string &extraJson = "") const;
    // {"partNumber":n,"etag":...} JSON texts of the parts, in order
    std::vector<std::string> putParts(const std::string &id, const std::string &bytes, std::int64_t partSize) const;
    static std::string completeBody(const std::vector<std::string> &partReplies);

    const std::string &token() const { return m_token; }
    std::string tokenHeader() const { return "X-Device-Token: " + m_token + "\r\n"; } // for raw requests

private:
    Http send(const char *method, const std::string &path, const std::string &body = {},
              const std::string &contentType = {}, httplib::Headers headers = {}, bool withToken = true) const;
    int m_port;
    std::string m_token;
};

inline constexpr std::int64_t kServerPartSize = 64 * 1024;

// The whole server in this process, on 127.0.0.1 with a free port: parts of
// kServerPartSize, videos up to 64 MiB, no sweeps but those the test calls,
// then whatever `configure` sets.
class InProcessServer {
public:
    explicit InProcessServer(const std::function<void(ServerConfig &)> &configure = {},
                             const std::filesystem::path &dataDir = {});

    int port() const { return m_app->port(); }
    std::string url() const { return m_app->listenUrl(); }
    ServerApp &app() { return *m_app; }
    Service &service() { return m_app->service(); }
    ManualClock &clock() { return m_clock; }
    const std::filesystem::path &dataDir() const { return m_dataDir; }
    Api api(const std::string &token) const { return Api(port(), token); }

private:
    std::optional<TempDir> m_ownDir;
    std::filesystem::path m_dataDir;
    ManualClock m_clock;
    std::unique_ptr<ServerApp> m_app;
};

// A connection to 127.0.0.1:port from the loopback address `from` (any of
// 127.0.0.0/8), so tests can play several clients and send what a polite
// client never would.
class RawConnection {
public:
    explicit RawConnection(int port, const char *from = "127.0.0.1");
    RawConnection(RawConnection &&other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    ~RawConnection();
    int fd() const { return m_fd; }
    void send(const std::string &bytes) const; // all of them, unless the server closes
    void closeWrite() const;
    // Everything the server answers until it closes the connection or stays
    // silent for idleMs.
    std::string readAll(int idleMs = 10000) const;

private:
    int m_fd = -1;
};

// A request's line, Host, Connection: close, then `headers` (each ending in
// CRLF) and the blank line.
std::string rawHead(const std::string &method, const std::string &target, const std::string &headers = "");
// Sends a request on a fresh connection and returns all the server answers.
std::string rawRequest(int port, const std::string &request);
// The status code of the first reply in a raw answer, or 0.
int rawStatus(const std::string &answer);

// Checks the data folder of a stopped server: every media file has a ready
// row and every ready row its file (of the recorded size); no complete is left
// half-done; upload files belong to uploads in progress, and the stored bytes
// of every recorded part have its digest; nothing is left in tmp/. Returns the
// problems found (empty when consistent).
std::vector<std::string> checkConsistency(const std::filesystem::path &dataDir);

} // namespace servertest
