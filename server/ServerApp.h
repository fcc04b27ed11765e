#pragma once

#include "Clock.h"
#include "HttpServer.h"
#include "ServerConfig.h"
#include "Service.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// A whole mivra-server: the data folder (locked against a second server), the
// SQLite metadata and local storage, start-up recovery, the HTTP server and
// the sweeper thread. main() runs one; the tests run one in-process with an
// injected clock.
class ServerApp {
public:
    // Opens the data folder, recovers from any crash and binds the address;
    // throws std::runtime_error (with a message for the user) on failure.
    ServerApp(const ServerConfig &config, const Clock &clock);
    ~ServerApp();
    ServerApp(const ServerApp &) = delete;
    ServerApp &operator=(const ServerApp &) = delete;

    // Serves on a thread of its own and starts the sweeper; returns once serving.
    void start();
    // Stops serving and sweeping; returns when both have ended.
    void stop();

    int port() const { return m_port; }
    // "http://127.0.0.1:PORT": where this server can be reached.
    const std::string &listenUrl() const { return m_listenUrl; }
    const std::string &publicOrigin() const { return m_service->options().publicOrigin; }
    Service &service() { return *m_service; }
    const RecoveryReport &recovery() const { return m_recovery; }
    const SweepReport &startupSweep() const { return m_startupSweep; }

private:
    void sweeperLoop();

    ServerConfig m_config;
    int m_lockFd = -1;
    std::unique_ptr<Service> m_service;
    std::unique_ptr<HttpServer> m_http;
    RecoveryReport m_recovery;
    SweepReport m_startupSweep;
    int m_port = 0;
    std::string m_listenUrl;

    std::thread m_httpThread;
    std::thread m_sweeper;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    bool m_started = false;
};
