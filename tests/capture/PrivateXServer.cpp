#include "PrivateXServer.h"

#include "PrivateHome.h"

PrivateXServer::PrivateXServer(QSize size) : m_savedDisplay(qgetenv("DISPLAY"))
{
    // -displayfd: the server takes a free display number itself and writes it
    // out once it accepts connections. -noreset: else it resets when its last
    // client leaves, and refuses connections meanwhile.
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

PrivateXServer::~PrivateXServer()
{
    if (m_savedDisplay.isEmpty())
        qunsetenv("DISPLAY");
    else
        qputenv("DISPLAY", m_savedDisplay);
    stopChild(m_server);
}
