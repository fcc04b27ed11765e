#include "ServerProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <string_view>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace fs = std::filesystem;

namespace {
// The null-ended array of C strings exec takes.
std::vector<char *> pointers(std::vector<std::string> &strings)
{
    std::vector<char *> out;
    for (auto &s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}
} // namespace

fs::path ServerProcess::binary()
{
    return fs::path(MIVRA_BINARY_DIR) / "server" / "mivra-server";
}

bool ServerProcess::built()
{
    return fs::exists(binary());
}

ServerProcess::ServerProcess(const fs::path &dataDir, std::vector<std::string> extraArgs,
                             std::map<std::string, std::string> env)
{
    static int serial = 0;
    m_logPath =
        dataDir.parent_path() / ("server-" + std::to_string(::getpid()) + "-" + std::to_string(++serial) + ".log");
    std::vector<std::string> args{binary().string(), "--listen", "127.0.0.1:0", "--data", dataDir.string()};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());

    // A crash point of the test's own environment must not reach this server.
    std::vector<std::string> envStrings;
    for (char **e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string key = entry.substr(0, entry.find('='));
        if (!env.count(key) && key != "MIVRA_SERVER_CRASH_AT")
            envStrings.push_back(entry);
    }
    for (const auto &[k, v] : env)
        envStrings.push_back(k + "=" + v);
    std::vector<char *> argv = pointers(args), envp = pointers(envStrings);

    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe failed";
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, m_logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int rc = ::posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) {
        ::close(out[0]);
        m_pid = -1;
        ADD_FAILURE() << "cannot start " << args[0] << ": " << std::strerror(rc);
        return;
    }

    // The first stdout line names the bound address; it comes whole.
    char line[256] = "";
    FILE *stream = ::fdopen(out[0], "r");
    if (pollfd p{out[0], POLLIN, 0}; ::poll(&p, 1, 15000) > 0)
        std::fgets(line, sizeof line, stream);
    std::fclose(stream);
    const std::string prefix = "listening on http://127.0.0.1:";
    if (std::string_view(line).starts_with(prefix))
        m_port = std::atoi(line + prefix.size());
    if (m_port <= 0)
        ADD_FAILURE() << "the server did not report its address; stdout: " << line << "\nstderr:\n" << log();
}

ServerProcess::~ServerProcess()
{
    if (m_pid > 0 && !m_exited)
        kill9();
    std::error_code ec;
    fs::remove(m_logPath, ec);
}

void ServerProcess::kill9()
{
    if (m_pid <= 0 || m_exited)
        return;
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, &m_status, 0);
    m_exited = true;
}

int ServerProcess::terminate()
{
    if (m_pid <= 0 || m_exited)
        return -1;
    ::kill(m_pid, SIGTERM);
    if (!waitForExit(10000)) {
        kill9();
        return -1;
    }
    return m_status;
}

bool ServerProcess::waitForExit(int timeoutMs)
{
    if (m_exited)
        return true;
    if (m_pid <= 0)
        return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        if (::waitpid(m_pid, &m_status, WNOHANG) == m_pid) {
            m_exited = true;
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

std::string ServerProcess::log() const
{
    std::ifstream f(m_logPath);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}
