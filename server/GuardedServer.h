#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

// Runs each connection on a thread of its own, started as needed up to a
// most; beyond it, connections wait for a thread. A stalled connection thus
// never keeps a waiting one from being served while there are threads to spare.
class GrowingThreadPool final : public httplib::TaskQueue {
public:
    explicit GrowingThreadPool(std::size_t maxThreads) : m_max(maxThreads) {}
    ~GrowingThreadPool() override { shutdown(); }
    void enqueue(std::function<void()> fn) override;
    void shutdown() override;

private:
    void work();

    std::size_t m_max;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    std::vector<std::thread> m_threads;
    std::size_t m_idle = 0;
    bool m_stopping = false;
};

// cpp-httplib's server with bounds a public service needs, which the library
// lacks: a connection holds a worker for its whole life and a header line may
// grow without end. Here each connection reads through a stream that
//   - caps a request's header block (bytes and lines: 431),
//   - gives the headers one deadline (408) and the body a slowest pace
//     (one deadline, stretched by every 64 KiB that arrives),
// and each client address may hold only so many connections (503 beyond).
// A handler that leaves a request body unread marks the connection to close.
class GuardedServer : public httplib::Server {
public:
    struct Limits {
        int maxConnectionsPerClient = 16;
        std::chrono::milliseconds requestTimeout{30000};
        std::size_t maxHeaderBytes = 16 * 1024;
        int maxHeaderLines = 100;
    };
    explicit GuardedServer(Limits limits) : m_limits(limits) {}

    // The library listens with a backlog of 5, so a burst of connections
    // would wait for SYN retries; call after binding.
    void widenBacklog();

    // Makes the connection of the request being handled on this thread close
    // after its reply (its body was not read to the end).
    static void closeAfterReply();

    // The name a request's Range header reaches the handlers under.
    static constexpr const char *kRangeHeader = "Mivra-Range";

    // Reads up to size bytes of the body of the request being handled on this
    // thread straight from its connection, under the same deadline and pace
    // as the library's reads, so a handler can take a large body in large
    // pieces: the count read, 0 at the end of the stream, -1 on failure or
    // when time is up. Never mixed with the library's ContentReader.
    static ssize_t readBody(char *data, std::size_t size);

private:
    bool process_and_close_socket(socket_t sock) override;
    bool admit(const std::string &client);
    void release(const std::string &client);

    Limits m_limits;
    std::mutex m_mutex;
    std::unordered_map<std::string, int> m_perClient;
};
