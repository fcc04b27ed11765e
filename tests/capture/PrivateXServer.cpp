#include "PrivateXServer.h"

#include "platform/capture/XcbHandles.h"

#include <QFile>
#include <QThread>

PrivateXServer::PrivateXServer(QSize size)
{
    m_savedDisplay = qgetenv("DISPLAY");
    // Display numbers 50 to 59 are the ones these tests may take.
    for (int number = 50; number <= 59 && !m_ok; ++number) {
        if (QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
            continue;
        // -noreset: else the server resets when its last client leaves, and
        // refuses connections meanwhile.
        m_server.start(QStringLiteral("Xvfb"),
                       QStringList{QStringLiteral(":%1").arg(number), QStringLiteral("-screen"), QStringLiteral("0"),
                                   QStringLiteral("%1x%2x24").arg(size.width()).arg(size.height())} +
                           QStringLiteral("-noreset -nolisten tcp +extension MIT-SHM +extension DAMAGE "
                                          "+extension XFIXES +extension RANDR")
                               .split(QLatin1Char(' ')));
        if (!m_server.waitForStarted(3000))
            return; // no Xvfb here
        m_display = ":" + QByteArray::number(number);
        qputenv("DISPLAY", m_display);
        // Ours only once the lock file names our server: two tests starting
        // at once may both have tried this number.
        const QString lockPath = QStringLiteral("/tmp/.X%1-lock").arg(number);
        for (int waited = 0; waited < 20000 && m_server.state() == QProcess::Running; waited += 50) {
            QFile lock(lockPath);
            int screen = 0;
            if (lock.open(QIODevice::ReadOnly) && lock.readAll().trimmed().toLongLong() == m_server.processId() &&
                connectToX(&screen)) {
                m_ok = true;
                break;
            }
            QThread::msleep(50);
        }
        if (!m_ok) {
            // Taken meanwhile by another test: the server gave up; try the next.
            m_server.kill();
            m_server.waitForFinished(3000);
        }
    }
    if (!m_ok)
        qputenv("DISPLAY", m_savedDisplay);
}

PrivateXServer::~PrivateXServer()
{
    if (m_savedDisplay.isEmpty())
        qunsetenv("DISPLAY");
    else
        qputenv("DISPLAY", m_savedDisplay);
    if (m_server.state() != QProcess::NotRunning) {
        m_server.terminate();
        if (!m_server.waitForFinished(3000)) {
            m_server.kill();
            m_server.waitForFinished(3000);
        }
    }
}
