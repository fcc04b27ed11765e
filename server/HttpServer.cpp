#include "HttpServer.h"

#include "GuardedServer.h"
#include "HttpRange.h"
#include "Log.h"
#include "SharePage.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <regex>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>

namespace {

using httplib::ContentReader;
using httplib::Request;
using httplib::Response;

constexpr std::size_t kMediaChunk = 256 * 1024;
constexpr std::size_t kBodyPiece = 1024 * 1024;

const char *kDeviceTokenHeader = "X-Device-Token";

thread_local std::chrono::steady_clock::time_point t_requestStart;
thread_local bool t_requestTimed = false;

void send(Response &res, const Reply &reply)
{
    res.status = reply.status;
    if (reply.status == 401)
        res.set_header("WWW-Authenticate", "DeviceToken header=\"X-Device-Token\"");
    if (!reply.body.empty() || !reply.contentType.empty())
        res.set_content(reply.body, reply.contentType.c_str());
}

bool isApi(const Request &req)
{
    return req.path.rfind("/api/", 0) == 0 || req.path == "/api";
}

std::optional<std::string> ownerFrom(const Request &req)
{
    if (req.get_header_value_count(kDeviceTokenHeader) != 1)
        return std::nullopt;
    const std::string token = req.get_header_value(kDeviceTokenHeader);
    if (!Service::isWellFormedToken(token))
        return std::nullopt;
    return Service::ownerOf(token);
}

Reply unauthorized()
{
    return errorReply(401, "a well-formed X-Device-Token header is required");
}

bool isChunked(const Request &req)
{
    std::string te = req.get_header_value("Transfer-Encoding");
    std::transform(te.begin(), te.end(), te.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return te.find("chunked") != std::string::npos;
}

// The declared body length; nullopt when there is none or it is chunked.
std::optional<std::uint64_t> contentLength(const Request &req)
{
    if (!req.has_header("Content-Length") || isChunked(req))
        return std::nullopt;
    const std::string v = req.get_header_value("Content-Length");
    std::uint64_t n = 0;
    auto [ptr, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
    if (ec != std::errc() || ptr != v.data() + v.size())
        return std::nullopt;
    return n;
}

bool hasBody(const Request &req)
{
    const std::optional<std::uint64_t> length = contentLength(req);
    return isChunked(req) || (length && *length > 0) || (!length && req.has_header("Content-Length"));
}

// Whether the body of the request on this thread was read to its end; a reply
// to one that was not closes the connection (the rest would be taken for the
// next request).
thread_local bool t_bodyRead = false;

// A declared body is read straight from the connection in pieces of up to
// 1 MiB, handed on whole: the library would read it 4 KiB at a time through
// two copies. Chunked bodies go through the library.
BodyReader bodyReader(const Request &req, const ContentReader &reader)
{
    const std::optional<std::uint64_t> length = contentLength(req);
    if (!length || *length == 0) {
        return [&reader](const BodySink &sink) {
            t_bodyRead = reader([&sink](const char *d, std::size_t n) { return sink(d, n); });
            return t_bodyRead;
        };
    }
    return [length = *length](const BodySink &sink) {
        const std::size_t pieceSize = std::size_t(std::min<std::uint64_t>(length, kBodyPiece));
        const std::unique_ptr<char[]> piece(new char[pieceSize]);
        std::uint64_t left = length;
        while (left > 0) {
            const std::size_t want = std::size_t(std::min<std::uint64_t>(left, pieceSize));
            for (std::size_t got = 0; got < want;) {
                const ssize_t n = GuardedServer::readBody(piece.get() + got, want - got);
                if (n <= 0) {
                    t_bodyRead = false;
                    return false;
                }
                got += std::size_t(n);
            }
            left -= want;
            if (!sink(piece.get(), want)) {
                t_bodyRead = left == 0;
                return false;
            }
        }
        t_bodyRead = true;
        return true;
    };
}

// Reads a JSON request body of at most limit bytes.
std::optional<std::string> readSmallBody(const ContentReader &reader, Reply &failure,
                                         std::size_t limit = limits::kMaxJsonBodyBytes)
{
    std::string body;
    bool tooLarge = false;
    const bool ok = reader([&](const char *d, std::size_t n) {
        if (body.size() + n > limit) {
            tooLarge = true;
            return false;
        }
        body.append(d, n);
        return true;
    });
    t_bodyRead = ok;
    if (tooLarge) {
        failure = errorReply(413, "JSON body larger than " + std::to_string(limit) + " bytes");
        return std::nullopt;
    }
    if (!ok) {
        failure = errorReply(400, "the request body was cut short");
        return std::nullopt;
    }
    return body;
}

// The methods a known path answers, for 405 and Allow; nullopt for unknown paths.
std::optional<std::string> allowedMethods(const std::string &path)
{
    static const std::regex list(R"(/api/videos)"), video(R"(/api/videos/[^/]+)"),
        part(R"(/api/videos/[^/]+/parts/[^/]+)"), action(R"(/api/videos/[^/]+/(complete|title|expiry))"),
        page(R"(/|/healthz|/r/[^/]+|/v/[^/]+)");
    if (std::regex_match(path, list))
        return "GET, HEAD, POST";
    if (std::regex_match(path, video))
        return "PUT, DELETE";
    if (std::regex_match(path, part))
        return "PUT";
    if (std::regex_match(path, action))
        return "POST";
    if (std::regex_match(path, page))
        return "GET, HEAD";
    return std::nullopt;
}

bool allows(const std::string &allowed, const std::string &method)
{
    std::size_t at = 0;
    while (at < allowed.size()) {
        std::size_t end = allowed.find(", ", at);
        if (end == std::string::npos)
            end = allowed.size();
        if (allowed.compare(at, end - at, method) == 0)
            return true;
        at = end + 2;
    }
    return false;
}

std::string printable(std::string_view s, std::size_t max = 300)
{
    std::string out;
    for (const char c : s) {
        if (out.size() >= max) {
            out += "...";
            break;
        }
        const auto u = static_cast<unsigned char>(c);
        out += (u < 0x20 || u == 0x7F) ? '?' : c;
    }
    return out;
}

const char *statusText(int status)
{
    switch (status) {
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 409:
        return "Conflict";
    case 411:
        return "Length Required";
    case 413:
        return "Payload Too Large";
    case 414:
        return "URI Too Long";
    case 415:
        return "Unsupported Media Type";
    case 416:
        return "Range Not Satisfiable";
    case 429:
        return "Too Many Requests";
    case 431:
        return "Request Header Fields Too Large";
    case 417:
        return "Expectation Failed";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    case 507:
        return "Insufficient Storage";
    default:
        return status < 500 ? "Client Error" : "Server Error";
    }
}

// Public pages answer in plain text, never with the API's JSON.
void sendPlain(Response &res, int status)
{
    res.status = status;
    res.set_content(std::string(statusText(status)) + "\n", "text/plain; charset=utf-8");
}

const std::regex &partRoute()
{
    static const std::regex re(R"(/api/videos/([^/]+)/parts/([^/]+))");
    return re;
}

const std::regex &videoRoute()
{
    static const std::regex re(R"(/api/videos/([^/]+))");
    return re;
}

} // namespace

HttpServer::HttpServer(Service &service, HttpOptions options)
    : m_service(service), m_options(options),
      m_server(std::make_unique<GuardedServer>(
          GuardedServer::Limits{options.maxConnectionsPerClient, std::chrono::seconds(options.requestTimeoutSeconds)}))
{
    const int threads = m_options.threads > 0 ? m_options.threads : 1;
    m_server->new_task_queue = [threads] { return new GrowingThreadPool(std::size_t(threads)); };
    // SO_REUSEADDR only: the library's default (SO_REUSEPORT) would let a second
    // server bind the same port silently.
    m_server->set_socket_options([](socket_t sock) {
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    m_server->set_read_timeout(m_options.readTimeoutSeconds, 0);
    m_server->set_write_timeout(m_options.writeTimeoutSeconds, 0);
    m_server->set_keep_alive_max_count(1000);
    m_server->set_keep_alive_timeout(5);
    m_server->set_payload_max_length(
        std::size_t(std::max(service.options().maxVideoBytes, service.options().partSize)));
    routes();
}

HttpServer::~HttpServer() = default;

int HttpServer::bind(const std::string &host, int port)
{
    int bound = -1;
    if (port == 0)
        bound = m_server->bind_to_any_port(host);
    else if (m_server->bind_to_port(host, port))
        bound = port;
    if (bound <= 0)
        throw std::runtime_error("cannot listen on " + host + ":" + std::to_string(port));
    m_server->widenBacklog();
    return bound;
}

void HttpServer::listen()
{
    m_server->listen_after_bind();
}

bool HttpServer::waitUntilServing(int timeoutMs) const
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!m_server->is_running()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void HttpServer::stop()
{
    m_server->stop();
}

void HttpServer::routes()
{
    httplib::Server &s = *m_server;
    Service &svc = m_service;

    // Checks made before a body is read (and before "100 Continue" is sent),
    // so a doomed upload is refused without its bytes.
    auto early = [&svc](const Request &req) -> std::optional<Reply> {
        const std::string &m = req.method;
        const std::optional<std::string> allowed = allowedMethods(req.path);
        if (m != "GET" && m != "HEAD" && m != "POST" && m != "PUT" && m != "DELETE")
            return errorReply(405, "method not allowed");
        if (allowed && !allows(*allowed, m))
            return errorReply(405, "this path answers " + *allowed);
        if ((m == "POST" || m == "PUT") && !req.has_header("Content-Length") && !isChunked(req))
            return errorReply(411, "a Content-Length header is required");
        if (!isApi(req))
            return std::nullopt;
        const std::optional<std::string> owner = ownerFrom(req);
        if (!owner)
            return unauthorized();
        const std::optional<std::uint64_t> length = contentLength(req);
        std::smatch match;
        if (m == "PUT" && std::regex_match(req.path, match, partRoute()))
            return svc.precheckPart(*owner, match[1].str(), match[2].str(), length);
        if (m == "PUT" && std::regex_match(req.path, match, videoRoute()))
            return svc.precheckWhole(*owner, match[1].str(), length);
        const std::size_t jsonLimit =
            req.path.ends_with("/complete") ? svc.maxCompleteBodyBytes() : limits::kMaxJsonBodyBytes;
        if (m == "POST" && length && *length > jsonLimit)
            return errorReply(413, "JSON body larger than " + std::to_string(jsonLimit) + " bytes");
        return std::nullopt;
    };

    s.set_pre_routing_handler([early](const Request &req, Response &res) {
        t_requestStart = std::chrono::steady_clock::now();
        t_requestTimed = true;
        t_bodyRead = !hasBody(req);
        if (std::optional<Reply> r = early(req)) {
            if (r->status == 405)
                res.set_header("Allow", allowedMethods(req.path).value_or("GET, HEAD, POST, PUT, DELETE"));
            if (isApi(req))
                send(res, *r);
            else
                sendPlain(res, r->status);
            if (!t_bodyRead) {
                res.set_header("Connection", "close");
                GuardedServer::closeAfterReply();
            }
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    s.set_post_routing_handler([](const Request &, Response &res) {
        if (!t_bodyRead) {
            res.set_header("Connection", "close");
            GuardedServer::closeAfterReply();
        }
    });
    s.set_expect_100_continue_handler([early](const Request &req, Response &res) {
        if (std::optional<Reply> r = early(req)) {
            if (isApi(req))
                send(res, *r);
            else
                sendPlain(res, r->status);
            res.set_header("Connection", "close");
            GuardedServer::closeAfterReply();
            return r->status;
        }
        return 100;
    });

    if (m_options.logRequests) {
        s.set_logger([](const Request &req, const Response &res) {
            std::string line = printable(req.remote_addr, 64) + " " + printable(req.method, 16) + " " +
                               printable(req.target) + " " + std::to_string(res.status);
            if (t_requestTimed) {
                const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                                      t_requestStart)
                                    .count();
                line += " " + std::to_string(ms) + "ms";
                t_requestTimed = false;
            }
            logLine(line);
        });
    }

    s.set_error_handler([](const Request &req, Response &res) {
        if (!res.body.empty() || res.status < 400)
            return;
        const char *message = statusText(res.status);
        if (isApi(req))
            send(res, errorReply(res.status, message));
        else
            res.set_content(std::string(message) + "\n", "text/plain; charset=utf-8");
    });

    s.set_exception_handler([](const Request &req, Response &res, std::exception_ptr ep) {
        std::string what = "unknown error";
        try {
            if (ep)
                std::rethrow_exception(ep);
        } catch (const std::exception &e) {
            what = e.what();
        } catch (...) {
        }
        logLine("error in " + printable(req.method, 16) + " " + printable(req.target) + ": " + what);
        send(res, errorReply(500, "internal error"));
    });

    // --- The video API ---

    s.Get("/api/videos", [&svc](const Request &req, Response &res) {
        const auto owner = ownerFrom(req);
        send(res,
             owner ? svc.list(*owner, req.get_param_value("limit"), req.get_param_value("after")) : unauthorized());
        res.set_header("Cache-Control", "no-store");
    });

    s.Post("/api/videos", [&svc](const Request &req, Response &res, const ContentReader &reader) {
        const auto owner = ownerFrom(req);
        if (!owner)
            return send(res, unauthorized());
        Reply failure;
        const auto body = readSmallBody(reader, failure);
        send(res, body ? svc.create(*owner, *body) : failure);
    });

    s.Put(R"(/api/videos/([^/]+)/parts/([^/]+))",
          [&svc](const Request &req, Response &res, const ContentReader &reader) {
              const auto owner = ownerFrom(req);
              if (!owner)
                  return send(res, unauthorized());
              if (req.is_multipart_form_data())
                  return send(res, errorReply(415, "send the part's bytes as the body, not as a form"));
              send(res, svc.putPart(*owner, req.matches[1].str(), req.matches[2].str(), contentLength(req),
                                    bodyReader(req, reader)));
          });

    s.Put(R"(/api/videos/([^/]+))", [&svc](const Request &req, Response &res, const ContentReader &reader) {
        const auto owner = ownerFrom(req);
        if (!owner)
            return send(res, unauthorized());
        if (req.is_multipart_form_data())
            return send(res, errorReply(415, "send the video's bytes as the body, not as a form"));
        send(res, svc.putWhole(*owner, req.matches[1].str(), contentLength(req), bodyReader(req, reader)));
    });

    using JsonEndpoint = Reply (Service::*)(const std::string &, const std::string &, std::string_view);
    auto jsonPost = [&svc](JsonEndpoint endpoint) {
        return [&svc, endpoint](const Request &req, Response &res, const ContentReader &reader) {
            const auto owner = ownerFrom(req);
            if (!owner)
                return send(res, unauthorized());
            Reply failure;
            const std::size_t limit =
                endpoint == &Service::complete ? svc.maxCompleteBodyBytes() : limits::kMaxJsonBodyBytes;
            const auto body = readSmallBody(reader, failure, limit);
            send(res, body ? (svc.*endpoint)(*owner, req.matches[1].str(), *body) : failure);
        };
    };
    s.Post(R"(/api/videos/([^/]+)/complete)", jsonPost(&Service::complete));
    s.Post(R"(/api/videos/([^/]+)/title)", jsonPost(&Service::rename));
    s.Post(R"(/api/videos/([^/]+)/expiry)", jsonPost(&Service::setExpiry));

    s.Delete(R"(/api/videos/([^/]+))", [&svc](const Request &req, Response &res, const ContentReader &) {
        const auto owner = ownerFrom(req);
        send(res, owner ? svc.remove(*owner, req.matches[1].str()) : unauthorized());
    });

    // Anything else that carries a body is refused without buffering it.
    auto refuse = [](const Request &req, Response &res, const ContentReader &) {
        if (isApi(req))
            send(res, errorReply(404, "no such endpoint"));
        else
            sendPlain(res, 404);
    };
    s.Post(".*", refuse);
    s.Put(".*", refuse);
    s.Delete(".*", refuse);

    // --- Public media: the MP4 with byte ranges, no token needed ---

    s.Get(R"(/r/([^/]+)\.jpg)", [&svc](const Request &req, Response &res) {
        const std::optional<std::string> jpeg = svc.poster(req.matches[1].str());
        if (!jpeg)
            return sendPlain(res, 404);
        res.set_header("Cache-Control", "private, max-age=3600");
        res.set_header("X-Content-Type-Options", "nosniff");
        res.set_content(*jpeg, "image/jpeg");
    });

    s.Get(R"(/r/([^/]+))", [&svc](const Request &req, Response &res) {
        const std::string id = req.matches[1].str();
        std::shared_ptr<MediaReader> media = svc.openMedia(id);
        if (!media) {
            res.status = 404;
            res.set_content("Not Found\n", "text/plain; charset=utf-8");
            return;
        }
        const std::uint64_t size = media->size();
        const std::string etag = "\"" + id + "-" + std::to_string(size) + "\"";
        res.set_header("Accept-Ranges", "bytes");
        res.set_header("ETag", etag);
        res.set_header("Cache-Control", "private, no-cache");
        res.set_header("X-Content-Type-Options", "nosniff");
        res.set_header("Content-Disposition", "inline; filename=\"" + id + ".mp4\"");

        // Ranges are answered here alone (the library never sees them).
        ByteRange range;
        if (req.has_header(GuardedServer::kRangeHeader)) {
            const bool current = !req.has_header("If-Range") || req.get_header_value("If-Range") == etag;
            if (current)
                range = parseRange(req.get_header_value(GuardedServer::kRangeHeader), size);
        }
        std::uint64_t offset = 0;
        std::uint64_t length = size;
        switch (range.kind) {
        case ByteRange::Kind::Unsatisfiable:
            res.status = 416;
            res.set_header("Content-Range", "bytes */" + std::to_string(size));
            res.set_content("Range Not Satisfiable\n", "text/plain; charset=utf-8");
            return;
        case ByteRange::Kind::Partial:
            offset = range.first;
            length = range.last - range.first + 1;
            res.status = 206;
            res.set_header("Content-Range", "bytes " + std::to_string(range.first) + "-" + std::to_string(range.last) +
                                                "/" + std::to_string(size));
            break;
        case ByteRange::Kind::Whole:
            res.status = 200;
            break;
        }
        if (length == 0) { // an empty video; the library cannot stream zero bytes
            res.set_content("", "video/mp4");
            return;
        }
        auto buffer = std::make_shared<std::vector<char>>(kMediaChunk);
        res.set_content_provider(std::size_t(length), "video/mp4",
                                 [media, buffer, offset](std::size_t off, std::size_t len, httplib::DataSink &sink) {
                                     const std::size_t n = std::min(len, buffer->size());
                                     try {
                                         media->read(offset + off, buffer->data(), n);
                                     } catch (const std::exception &e) {
                                         logLine(std::string("media read failed: ") + e.what());
                                         return false;
                                     }
                                     return sink.write(buffer->data(), n);
                                 });
    });

    // --- Share page ---

    s.Get(R"(/v/([^/]+))", [&svc](const Request &req, Response &res) {
        res.set_header("Content-Security-Policy", sharepage::kContentSecurityPolicy);
        res.set_header("X-Content-Type-Options", "nosniff");
        res.set_header("Referrer-Policy", "no-referrer");
        res.set_header("Cache-Control", "no-cache");
        const std::optional<PublicVideo> video = svc.publicVideo(req.matches[1].str());
        if (!video) {
            res.status = 404;
            res.set_content(sharepage::renderGone(), "text/html; charset=utf-8");
            return;
        }
        res.set_content(sharepage::render(*video, svc.options().publicOrigin), "text/html; charset=utf-8");
    });

    s.Get("/", [](const Request &, Response &res) {
        res.set_content("Mivra Video sharing service. Share links look like /v/<id>.\n", "text/plain; charset=utf-8");
    });
    s.Get("/healthz", [](const Request &, Response &res) { res.set_content("ok\n", "text/plain; charset=utf-8"); });
}
