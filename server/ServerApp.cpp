#include "ServerApp.h"

#include "LocalStorage.h"
#include "Log.h"
#include "SqliteMetadata.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <stdexcept>
#include <sys/file.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string currentBootId()
{
    std::ifstream in("/proc/sys/kernel/random/boot_id");
    std::string id;
    std::getline(in, id);
    return id;
}

// Parts are synced only when published, so after the machine itself went down
// (not just this process) their bytes may be lost. The boot id of the last run
// tells; without one (first run, or unknown) assume the worst.
bool machineRestartedSince(const fs::path &bootFile)
{
    std::ifstream in(bootFile);
    std::string last;
    std::getline(in, last);
    const std::string now = currentBootId();
    return now.empty() || last != now;
}

void recordBoot(const fs::path &bootFile)
{
    const fs::path tmp = bootFile.string() + ".new";
    {
        std::ofstream out(tmp, std::ios::trunc);
        out << currentBootId() << "\n";
    }
    std::error_code ec;
    fs::permissions(tmp, fs::perms::owner_read | fs::perms::owner_write, ec);
    fs::rename(tmp, bootFile, ec);
    if (ec)
        logLine("cannot record the boot id in " + bootFile.string() + ": " + ec.message());
}

} // namespace

ServerApp::ServerApp(const ServerConfig &config, const Clock &clock) : m_config(config)
{
    std::error_code ec;
    fs::create_directories(config.dataDir, ec);
    if (ec)
        throw std::runtime_error("cannot create the data folder " + config.dataDir.string() + ": " + ec.message());

    // One server per data folder: start-up recovery would otherwise remove the
    // uploads another server is writing.
    const fs::path lockPath = config.dataDir / "mivra-server.lock";
    m_lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_lockFd < 0)
        throw std::runtime_error("cannot open " + lockPath.string() + ": " + std::strerror(errno));
    if (::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        ::close(m_lockFd);
        m_lockFd = -1;
        throw std::runtime_error("another mivra-server is using the data folder " + config.dataDir.string());
    }

    try {
        auto metadata = std::make_unique<SqliteMetadata>(config.dataDir / "mivra.sqlite3");
        auto storage = std::make_unique<LocalStorage>(config.dataDir);

        ServiceOptions options;
        options.partSize = config.partSize;
        options.maxVideoBytes = config.maxVideoBytes;
        options.uploadTimeoutMs = config.uploadTimeoutSeconds * 1000;
        options.maxUploadsPerDevice = config.maxUploadsPerDevice;
        options.maxVideosPerDevice = config.maxVideosPerDevice;
        options.maxBytesPerDevice = config.maxBytesPerDevice;
        options.diskReserveBytes = config.diskReserveBytes;
        m_service = std::make_unique<Service>(std::move(metadata), std::move(storage), clock, options);
        const fs::path bootFile = config.dataDir / "boot-id";
        m_recovery = m_service->recover(machineRestartedSince(bootFile));
        recordBoot(bootFile);
        m_startupSweep = m_service->sweep();

        HttpOptions http;
        http.threads = config.threads;
        http.logRequests = config.logRequests;
        http.maxConnectionsPerClient = int(config.maxConnectionsPerClient);
        http.requestTimeoutSeconds = int(config.requestTimeoutSeconds);
        m_http = std::make_unique<HttpServer>(*m_service, http);
        m_port = m_http->bind(config.host, config.port);
    } catch (const std::exception &) {
        m_http.reset();
        m_service.reset();
        ::close(m_lockFd);
        m_lockFd = -1;
        throw;
    }

    const bool v6 = config.host.find(':') != std::string::npos;
    const std::string hostPart = v6 ? "[" + config.host + "]" : config.host;
    m_listenUrl = "http://" + hostPart + ":" + std::to_string(m_port);
    std::string origin = config.publicOrigin;
    if (origin.empty()) {
        const bool wildcard = config.host.empty() || config.host == "0.0.0.0" || config.host == "::";
        origin = wildcard ? "http://127.0.0.1:" + std::to_string(m_port) : m_listenUrl;
        if (wildcard)
            logLine("listening on all addresses: pass --public-origin so share links name this machine");
    }
    m_service->setPublicOrigin(origin);
}

ServerApp::~ServerApp()
{
    stop();
    m_http.reset();
    m_service.reset();
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

void ServerApp::start()
{
    std::lock_guard lock(m_mutex);
    if (m_started)
        return;
    m_started = true;
    // A client that goes away mid-reply must not kill the process.
    std::signal(SIGPIPE, SIG_IGN);
    m_httpThread = std::thread([this] { m_http->listen(); });
    m_sweeper = std::thread([this] { sweeperLoop(); });
    // The library ignores a stop() that comes before it runs; wait for it.
    m_http->waitUntilServing(10000);
}

void ServerApp::stop()
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_started || m_stopping)
            return;
        m_stopping = true;
    }
    m_wake.notify_all();
    m_http->stop();
    if (m_httpThread.joinable())
        m_httpThread.join();
    if (m_sweeper.joinable())
        m_sweeper.join();
}

void ServerApp::sweeperLoop()
{
    const auto interval = std::chrono::milliseconds(m_config.sweepIntervalMs);
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        if (m_wake.wait_for(lock, interval, [this] { return m_stopping; }))
            break;
        lock.unlock();
        try {
            const SweepReport r = m_service->sweep();
            if (r.expiredRemoved || r.staleUploadsRemoved)
                logLine("sweeper: removed " + std::to_string(r.expiredRemoved) + " expired videos and " +
                        std::to_string(r.staleUploadsRemoved) + " uploads never completed");
        } catch (const std::exception &e) {
            logLine(std::string("sweeper: ") + e.what());
        }
        lock.lock();
    }
}
