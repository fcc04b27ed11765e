#include "ServerProcess.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

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
    QStringList args{"--listen", "127.0.0.1:0", "--data", QString::fromStdString(dataDir.string())};
    for (const std::string &arg : extraArgs)
        args << QString::fromStdString(arg);
    // A crash point of the test's own environment must not reach this server.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("MIVRA_SERVER_CRASH_AT"));
    for (const auto &[key, value] : env)
        environment.insert(QString::fromStdString(key), QString::fromStdString(value));
    m_process.setProcessEnvironment(environment);
    m_process.setStandardErrorFile(QString::fromStdString(m_logPath.string()));
    m_process.start(QString::fromStdString(binary().string()), args);

    // The first stdout line names the bound address; nothing else is read.
    while (!m_process.canReadLine() && m_process.waitForReadyRead(15000)) {
    }
    const QByteArray line = m_process.readLine(), prefix = "listening on http://127.0.0.1:";
    m_process.closeReadChannel(QProcess::StandardOutput);
    if (line.startsWith(prefix))
        m_port = line.mid(prefix.size()).trimmed().toInt();
    if (m_port <= 0)
        ADD_FAILURE() << "the server did not report its address; stdout: " << line.toStdString() << "\nstderr:\n"
                      << log();
}

ServerProcess::~ServerProcess()
{
    kill9();
    std::error_code ec;
    fs::remove(m_logPath, ec);
}

void ServerProcess::kill9()
{
    m_process.kill();
    m_process.waitForFinished();
}

int ServerProcess::terminate()
{
    m_process.terminate();
    if (!waitForExit(10000)) {
        kill9();
        return -1;
    }
    // As waitpid puts it: the exit code above the low byte, or the signal in it.
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() << 8 : m_process.exitCode();
}

bool ServerProcess::waitForExit(int timeoutMs)
{
    return m_process.state() == QProcess::NotRunning || m_process.waitForFinished(timeoutMs);
}

std::string ServerProcess::log() const
{
    return (std::stringstream() << std::ifstream(m_logPath).rdbuf()).str();
}
