#include "PrivateHome.h"

#include "Await.h"

#include <QFile>

QString appBinary()
{
    return QStringLiteral(MIVRA_BINARY_DIR "/src/mivra");
}

PrivateHome::PrivateHome(const QString &serviceOrigin)
{
    QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"})
        env.insert(QString::fromLatin1(name), path(QString::fromLatin1(name)));
    // A private runtime folder: no running app is found on its socket. The
    // sound server lives in the real one, so it is named outright.
    const QString pulse = qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/pulse/native");
    if (!qEnvironmentVariableIsSet("PULSE_SERVER") && !qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") &&
        QFile::exists(pulse))
        env.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:") + pulse);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), path());
    env.insert(QStringLiteral("HOME"), path());
    env.insert(QStringLiteral("MIVRA_SERVICE_ORIGIN"), serviceOrigin);
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
}

PrivateHome::PrivateHome(ThisProcess) : PrivateHome()
{
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"}) {
        m_saved.append({name, qgetenv(name)});
        qputenv(name, path(QString::fromLatin1(name)).toUtf8());
    }
}

PrivateHome::~PrivateHome()
{
    for (const auto &[name, value] : m_saved) {
        if (value.isEmpty())
            qunsetenv(name.constData());
        else
            qputenv(name.constData(), value);
    }
}

QString PrivateHome::log() const
{
    QFile file(path(QStringLiteral("XDG_STATE_HOME/Mivra Video/Logs/Mivra.log")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

bool PrivateHome::waitForLog(const QString &text, int timeoutMs) const
{
    return waitUntil([&] { return log().contains(text); }, timeoutMs);
}

ChildRun runApp(const QStringList &arguments, const QProcessEnvironment &env, int timeoutMs)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(appBinary(), arguments);
    if (!process.waitForFinished(timeoutMs)) {
        stopChild(process);
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
}

void stopChild(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000))
        process.kill();
    process.waitForFinished(5000);
}
