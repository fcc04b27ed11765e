#pragma once

#include "PrivateHome.h"

#include <QByteArray>
#include <QProcess>
#include <QSize>

// An Xvfb of its own for one test, so that tests running side by side (and
// other programs' windows) never draw into what a test records. DISPLAY
// points at it while it lives.
class PrivateXServer {
public:
    explicit PrivateXServer(QSize size = QSize(1920, 1080)) : m_savedDisplay(qgetenv("DISPLAY"))
    {
        // -displayfd: the server takes a free display number itself and writes
        // it out once it accepts connections. -noreset: else it resets when its
        // last client leaves, and refuses connections meanwhile.
        const QString screen = QStringLiteral("%1x%2x24").arg(size.width()).arg(size.height());
        m_server.start("Xvfb", ("-screen 0 " + screen +
                                " -displayfd 1 -noreset -nolisten tcp +extension MIT-SHM "
                                "+extension DAMAGE +extension XFIXES +extension RANDR")
                                   .split(' '));
        while (!m_server.canReadLine() && m_server.waitForReadyRead(20000)) {
        }
        const QByteArray number = m_server.readLine().trimmed();
        if (number.isEmpty())
            return; // no Xvfb here, or it failed
        m_display = ":" + number;
        qputenv("DISPLAY", m_display);
    }
    ~PrivateXServer()
    {
        m_savedDisplay.isEmpty() ? qunsetenv("DISPLAY") : qputenv("DISPLAY", m_savedDisplay);
        stopChild(m_server);
    }

    bool ok() const { return !m_display.isEmpty(); }
    QByteArray display() const { return m_display; }

private:
    QProcess m_server;
    QByteArray m_display;
    QByteArray m_savedDisplay;
};
