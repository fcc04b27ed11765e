#pragma once

// The real mivra-server as a child process on 127.0.0.1 with a port of its
// own choice: started with ServerProcess(dataDir), read through origin().

#include <QProcess>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

class ServerProcess {
public:
    // Starts mivra-server --listen 127.0.0.1:0 --data dataDir plus `extraArgs`,
    // with `env` added to this process's environment, and waits for its
    // "listening on" line. Its stderr goes to a file beside dataDir.
    explicit ServerProcess(const std::filesystem::path &dataDir, std::vector<std::string> extraArgs = {},
                           std::map<std::string, std::string> env = {});
    ~ServerProcess();
    ServerProcess(const ServerProcess &) = delete;
    ServerProcess &operator=(const ServerProcess &) = delete;

    bool started() const { return m_port > 0; }
    int port() const { return m_port; }
    std::string origin() const { return "http://127.0.0.1:" + std::to_string(m_port); }

    void kill9();
    // SIGTERM and wait; the exit status as waitpid reports it, -1 if it hung.
    int terminate();
    // Waits for the process to end on its own; true if it did.
    bool waitForExit(int timeoutMs);
    std::string log() const; // its stderr so far

    static bool built();
    static std::filesystem::path binary();

private:
    QProcess m_process;
    int m_port = 0;
    std::filesystem::path m_logPath;
};
