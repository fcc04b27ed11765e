#pragma once

#include <QByteArray>
#include <QProcess>
#include <QSize>

// An Xvfb of its own for one test, so that tests running side by side (and
// other programs' windows) never draw into what a test records. DISPLAY
// points at it while it lives.
class PrivateXServer {
public:
    explicit PrivateXServer(QSize size = QSize(1920, 1080));
    ~PrivateXServer();

    bool ok() const { return !m_display.isEmpty(); }
    QByteArray display() const { return m_display; }

private:
    QProcess m_server;
    QByteArray m_display;
    QByteArray m_savedDisplay;
};
