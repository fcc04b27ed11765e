#pragma once

#include "Service.h"

#include <memory>
#include <string>

class GuardedServer;

struct HttpOptions {
    int threads = 256; // connections served at once, each on a thread of its own
    int maxConnectionsPerClient = 16;
    int requestTimeoutSeconds = 30; // headers within it; the body at least 64 KiB per it
    int readTimeoutSeconds = 60;    // a client that sends nothing for this long is dropped
    int writeTimeoutSeconds = 60;
    bool logRequests = true; // one line per request on stderr
};

// The HTTP face of the service (cpp-httplib): the video API under
// /api/videos, the public media under /r/<id> with byte ranges, and the share
// page under /v/<id>. Request bodies of uploads are streamed to storage as
// they arrive, never held whole in memory.
class HttpServer {
public:
    HttpServer(Service &service, HttpOptions options);
    ~HttpServer();
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    // Binds host:port (port 0 picks a free port) and returns the bound port;
    // throws std::runtime_error when the address cannot be bound.
    int bind(const std::string &host, int port);
    // Serves until stop(); call after bind().
    void listen();
    // Returns once listen() has started serving (so a stop() is not lost), or
    // after timeoutMs.
    bool waitUntilServing(int timeoutMs) const;
    void stop();

private:
    void routes();

    Service &m_service;
    HttpOptions m_options;
    std::unique_ptr<GuardedServer> m_server;
};
