#pragma once

// A private home for child `mivra` processes: its own XDG folders, runtime
// folder and HOME, an environment to start children with, and its log. Made
// with `thisProcess`, the test process's own XDG folders point into it too
// while it lives.

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

// The built `mivra` binary.
QString appBinary();

class PrivateHome {
public:
    // `serviceOrigin` becomes MIVRA_SERVICE_ORIGIN; children keep the display.
    explicit PrivateHome(const QString &serviceOrigin = QStringLiteral("http://127.0.0.1:9"));
    struct ThisProcess {};
    static constexpr ThisProcess thisProcess{};
    explicit PrivateHome(ThisProcess);
    ~PrivateHome();
    PrivateHome(const PrivateHome &) = delete;
    PrivateHome &operator=(const PrivateHome &) = delete;

    QString path(const QString &relative = {}) const
    {
        return relative.isEmpty() ? m_dir.path() : m_dir.filePath(relative);
    }
    QProcessEnvironment env;
    QString preferencesPath() const { return path(QStringLiteral("XDG_CONFIG_HOME/Mivra Video/preferences.json")); }
    QString recordingsFolder() const { return path(QStringLiteral("Videos/Mivra")); }
    QString log() const; // the app's log so far
    // Waits (on the event loop) until the log holds `text`.
    bool waitForLog(const QString &text, int timeoutMs = 5000) const;

private:
    QTemporaryDir m_dir;
    QList<QPair<QByteArray, QByteArray>> m_saved; // this process's variables before
};

// What a finished child wrote and its exit code (-1: crashed or hung).
struct ChildRun {
    int status = -1;
    QString out;
    QString err;
};

// Runs `mivra ARGUMENTS` to its end in `env`.
ChildRun runApp(const QStringList &arguments, const QProcessEnvironment &env, int timeoutMs = 10000);
// SIGTERM, then SIGKILL if it does not end; no-op when not running.
void stopChild(QProcess &process);
