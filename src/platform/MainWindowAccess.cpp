#include "platform/MainWindowAccess.h"

#include <QGuiApplication>

QWindow *QtMainWindowAccess::find()
{
    const QList<QWindow *> windows = QGuiApplication::topLevelWindows();
    for (QWindow *window : windows) {
        if (window->type() != Qt::Popup && window->objectName().startsWith(QLatin1String("main")))
            return window;
    }
    for (QWindow *window : windows) {
        if (window->type() != Qt::Popup && window->title() == QLatin1String("Mivra Video"))
            return window;
    }
    return nullptr;
}

MainWindowAccess::Presence QtMainWindowAccess::presence() const
{
    QWindow *window = find();
    if (!window)
        return Presence::absent;
    if (window->windowStates() & Qt::WindowMinimized)
        return Presence::minimised;
    if (!window->isVisible() && window == m_hiddenForRecording)
        return Presence::minimised;
    return window->isVisible() ? Presence::shown : Presence::hidden;
}

void QtMainWindowAccess::minimise()
{
    QWindow *window = find();
    if (!window)
        return;
    // A utility window (no taskbar entry) has nothing to come back from, and
    // many window managers ignore the request: it leaves the screen by hiding.
    if (window->type() == Qt::Tool) {
        m_hiddenForRecording = window;
        window->hide();
        Q_EMIT minimised();
        return;
    }
    disconnect(m_stateConnection);
    m_watched = window;
    m_stateConnection = connect(window, &QWindow::windowStateChanged, this, [this](Qt::WindowState state) {
        if (state == Qt::WindowMinimized) {
            disconnect(m_stateConnection);
            Q_EMIT minimised();
        }
    });
    window->showMinimized();
}

void QtMainWindowAccess::restore()
{
    QWindow *window = find();
    const bool hiddenByUs = window && window == m_hiddenForRecording && !window->isVisible();
    m_hiddenForRecording = nullptr;
    if (!window || !(hiddenByUs || (window->windowStates() & Qt::WindowMinimized)))
        return;
    window->setWindowStates(window->windowStates() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->requestActivate();
}

bool QtMainWindowAccess::bringToFront()
{
    QWindow *window = find();
    if (!window)
        return false;
    if (window->windowStates() & Qt::WindowMinimized)
        window->setWindowStates(window->windowStates() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->requestActivate();
    return true;
}
