#include "GuardedServer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

thread_local bool t_closeAfterReply = false;
class GuardedStream;
thread_local GuardedStream *t_stream = nullptr;

constexpr std::size_t kBodyBytesPerTimeout = 64 * 1024;

std::string addressOf(const sockaddr_storage &sa, int *port)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (sa.ss_family == AF_INET) {
        const auto &in = reinterpret_cast<const sockaddr_in &>(sa);
        ::inet_ntop(AF_INET, &in.sin_addr, text, sizeof text);
        if (port)
            *port = ntohs(in.sin_port);
    } else if (sa.ss_family == AF_INET6) {
        const auto &in6 = reinterpret_cast<const sockaddr_in6 &>(sa);
        ::inet_ntop(AF_INET6, &in6.sin6_addr, text, sizeof text);
        if (port)
            *port = ntohs(in6.sin6_port);
    }
    return text;
}

void writeRaw(int sock, const std::string &text)
{
    ::send(sock, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

std::string plainReply(int status, const char *reason, const std::string &body)
{
    return "HTTP/1.1 " + std::to_string(status) + " " + reason +
           "\r\nContent-Type: text/plain; charset=utf-8\r\nConnection: close\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

// A socket stream that enforces the limits while the library reads a request.
class GuardedStream final : public httplib::Stream {
public:
    GuardedStream(int sock, const GuardedServer::Limits &limits, std::chrono::milliseconds ioTimeout)
        : m_sock(sock), m_limits(limits), m_ioTimeout(ioTimeout)
    {
    }

    // The next request begins: its headers are due within the timeout.
    void beginRequest()
    {
        m_inHeaders = true;
        m_line.clear();
        m_linePos = 0;
        m_headerBytes = 0;
        m_headerLines = 0;
        m_tail = 0;
        m_deadline = Clock::now() + m_limits.requestTimeout;
    }
    bool refused() const { return m_refused; }
    bool inBody() const { return !m_inHeaders && !m_refused; }

    // Waits for the first byte of a request on an idle keep-alive connection.
    bool waitForRequest(std::chrono::milliseconds idle) const
    {
        return m_begin < m_end || pollFor(POLLIN, Clock::now() + idle);
    }

    bool is_readable() const override { return m_begin < m_end || pollFor(POLLIN, readDeadline()); }
    bool is_writable() const override { return pollFor(POLLOUT, Clock::now() + m_ioTimeout); }

    ssize_t read(char *ptr, std::size_t size) override
    {
        if (m_refused)
            return -1;
        if (m_inHeaders) {
            if (m_linePos == m_line.size() && !nextLine())
                return -1;
            const std::size_t n = std::min(size, m_line.size() - m_linePos);
            std::memcpy(ptr, m_line.data() + m_linePos, n);
            m_linePos += n;
            return account(ptr, ssize_t(n));
        }
        if (m_begin == m_end) {
            // Large body reads go straight to the caller.
            if (size >= sizeof m_buffer)
                return is_readable() ? account(ptr, receive(ptr, size)) : -1;
            if (!fill())
                return -1;
        }
        const std::size_t n = std::min(size, m_end - m_begin);
        std::memcpy(ptr, m_buffer + m_begin, n);
        m_begin += n;
        return account(ptr, ssize_t(n));
    }

    ssize_t write(const char *ptr, std::size_t size) override
    {
        if (!is_writable())
            return -1;
        return ::send(m_sock, ptr, size, MSG_NOSIGNAL);
    }

    void get_remote_ip_and_port(std::string &ip, int &port) const override
    {
        sockaddr_storage sa{};
        socklen_t len = sizeof sa;
        if (::getpeername(m_sock, reinterpret_cast<sockaddr *>(&sa), &len) == 0)
            ip = addressOf(sa, &port);
    }
    void get_local_ip_and_port(std::string &ip, int &port) const override
    {
        sockaddr_storage sa{};
        socklen_t len = sizeof sa;
        if (::getsockname(m_sock, reinterpret_cast<sockaddr *>(&sa), &len) == 0)
            ip = addressOf(sa, &port);
    }
    socket_t socket() const override { return m_sock; }

private:
    // Refills the socket buffer; false at the end, on an error or when time is up.
    bool fill()
    {
        if (!is_readable()) {
            if (m_inHeaders && (m_headerBytes > 0 || !m_line.empty()))
                refuse(408, "Request Timeout", "The request's headers took too long.\n");
            return false;
        }
        const ssize_t n = receive(m_buffer, sizeof m_buffer);
        if (n <= 0)
            return false;
        m_begin = 0;
        m_end = std::size_t(n);
        return true;
    }

    // Takes the next header line whole, so it is bounded and looked at
    // before the library parses it.
    bool nextLine()
    {
        m_line.clear();
        m_linePos = 0;
        for (;;) {
            if (m_begin == m_end && !fill())
                return false;
            const char *start = m_buffer + m_begin;
            const auto *newline = static_cast<const char *>(std::memchr(start, '\n', m_end - m_begin));
            const std::size_t take = newline ? std::size_t(newline - start + 1) : m_end - m_begin;
            m_line.append(start, take);
            m_begin += take;
            if (m_headerBytes + m_line.size() > m_limits.maxHeaderBytes) {
                refuse(431, "Request Header Fields Too Large", "The request's headers are too large.\n");
                return false;
            }
            if (newline)
                break;
        }
        hideRange(m_line);
        return true;
    }

    // The library answers a Range it cannot parse with a bare 416 (no
    // Content-Range, and none at all for a unit other than bytes, which is to
    // be ignored): the header is renamed, so the handler alone judges it.
    static void hideRange(std::string &line)
    {
        constexpr std::string_view name = "range:";
        if (line.size() < name.size())
            return;
        for (std::size_t i = 0; i < name.size(); ++i)
            if (std::tolower(static_cast<unsigned char>(line[i])) != name[i])
                return;
        line.replace(0, name.size() - 1, GuardedServer::kRangeHeader);
    }

    Clock::time_point readDeadline() const { return std::min(m_deadline, Clock::now() + m_ioTimeout); }

    bool pollFor(short events, Clock::time_point deadline) const
    {
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left < 0)
                return false;
            pollfd p{m_sock, events, 0};
            const int r = ::poll(&p, 1, int(std::min<long long>(left, 60000)));
            if (r > 0)
                return true;
            if (r < 0 && errno != EINTR)
                return false;
        }
    }

    ssize_t receive(char *ptr, std::size_t size)
    {
        for (;;) {
            const ssize_t n = ::recv(m_sock, ptr, size, 0);
            if (n >= 0 || errno != EINTR)
                return n;
        }
    }

    // Counts what the library took: header bytes and lines until the blank
    // line, then body bytes, each 64 KiB of which earns more time.
    ssize_t account(const char *ptr, ssize_t n)
    {
        if (n <= 0)
            return n;
        if (!m_inHeaders) {
            m_bodyBytes += std::size_t(n);
            while (m_bodyBytes >= kBodyBytesPerTimeout) {
                m_bodyBytes -= kBodyBytesPerTimeout;
                m_deadline += m_limits.requestTimeout;
            }
            // Never more than one timeout of credit ahead.
            m_deadline = std::min(m_deadline, Clock::now() + m_limits.requestTimeout);
            return n;
        }
        for (ssize_t i = 0; i < n; ++i) {
            const char c = ptr[i];
            m_tail = (c == '\n' && (m_tail == 1 || m_tail == 3)) ? m_tail + 1 : (c == '\r' ? (m_tail == 2 ? 3 : 1) : 0);
            if (c == '\n')
                ++m_headerLines;
            if (m_tail == 4) { // the blank line: the body follows
                m_inHeaders = false;
                m_bodyBytes = 0;
                m_deadline = Clock::now() + m_limits.requestTimeout;
                break;
            }
        }
        m_headerBytes += std::size_t(n);
        if (m_inHeaders && (m_headerBytes > m_limits.maxHeaderBytes || m_headerLines > m_limits.maxHeaderLines)) {
            refuse(431, "Request Header Fields Too Large", "The request's headers are too large.\n");
            return -1;
        }
        return n;
    }

    void refuse(int status, const char *reason, const std::string &body)
    {
        m_refused = true;
        writeRaw(m_sock, plainReply(status, reason, body));
    }

    int m_sock;
    const GuardedServer::Limits &m_limits;
    std::chrono::milliseconds m_ioTimeout;
    char m_buffer[16 * 1024];
    std::string m_line; // the header line being handed out
    std::size_t m_linePos = 0;
    std::size_t m_begin = 0, m_end = 0;
    bool m_inHeaders = true;
    bool m_refused = false;
    std::size_t m_headerBytes = 0;
    int m_headerLines = 0;
    int m_tail = 0; // how much of "\r\n\r\n" was just seen
    std::size_t m_bodyBytes = 0;
    Clock::time_point m_deadline = Clock::now();
};

} // namespace

void GrowingThreadPool::enqueue(std::function<void()> fn)
{
    std::lock_guard lock(m_mutex);
    m_jobs.push_back(std::move(fn));
    if (m_idle < m_jobs.size() && m_threads.size() < m_max)
        m_threads.emplace_back([this] { work(); });
    else
        m_wake.notify_one();
}

void GrowingThreadPool::shutdown()
{
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        threads.swap(m_threads);
    }
    m_wake.notify_all();
    for (std::thread &t : threads)
        t.join();
}

void GrowingThreadPool::work()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        ++m_idle;
        m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
        --m_idle;
        if (m_jobs.empty())
            return; // stopping, and every connection served
        std::function<void()> job = std::move(m_jobs.front());
        m_jobs.pop_front();
        lock.unlock();
        job();
        lock.lock();
    }
}

void GuardedServer::widenBacklog()
{
    ::listen(svr_sock_, SOMAXCONN);
}

void GuardedServer::closeAfterReply()
{
    t_closeAfterReply = true;
}

ssize_t GuardedServer::readBody(char *data, std::size_t size)
{
    if (!t_stream || !t_stream->inBody())
        return -1;
    return t_stream->read(data, size);
}

bool GuardedServer::admit(const std::string &client)
{
    std::lock_guard lock(m_mutex);
    int &n = m_perClient[client];
    if (n >= m_limits.maxConnectionsPerClient)
        return false;
    ++n;
    return true;
}

void GuardedServer::release(const std::string &client)
{
    std::lock_guard lock(m_mutex);
    if (auto it = m_perClient.find(client); it != m_perClient.end() && --it->second <= 0)
        m_perClient.erase(it);
}

bool GuardedServer::process_and_close_socket(socket_t sock)
{
    // A reply goes out as a header write and a body write: with Nagle's
    // algorithm the body would wait for the client's delayed ACK (up to
    // 40 ms), once per uploaded part.
    const int noDelay = 1;
    ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    sockaddr_storage sa{};
    socklen_t len = sizeof sa;
    const std::string client =
        ::getpeername(sock, reinterpret_cast<sockaddr *>(&sa), &len) == 0 ? addressOf(sa, nullptr) : std::string();
    bool ok = false;
    if (!admit(client)) {
        writeRaw(sock, plainReply(503, "Service Unavailable", "Too many connections from your address.\n"));
    } else {
        const auto ioTimeout = std::chrono::seconds(read_timeout_sec_) + std::chrono::microseconds(read_timeout_usec_);
        GuardedStream stream(sock, m_limits, std::chrono::duration_cast<std::chrono::milliseconds>(ioTimeout));
        t_stream = &stream;
        for (std::size_t left = keep_alive_max_count_; left > 0 && svr_sock_ != INVALID_SOCKET; --left) {
            if (!stream.waitForRequest(std::chrono::seconds(keep_alive_timeout_sec_)))
                break;
            stream.beginRequest();
            t_closeAfterReply = false;
            bool closed = false;
            ok = process_request(stream, left == 1, closed, nullptr);
            if (!ok || closed || t_closeAfterReply || stream.refused())
                break;
        }
        t_stream = nullptr;
        release(client);
    }
    // Ends our side first and takes what the client already sent, so the
    // kernel does not answer unread bytes with a reset that could destroy the
    // reply before the client reads it.
    ::shutdown(sock, SHUT_WR);
    char sink[16 * 1024];
    for (int i = 0; i < 64 && ::recv(sock, sink, sizeof sink, MSG_DONTWAIT) > 0; ++i) {
    }
    ::close(sock);
    return ok;
}
