#include "platform/TaskbarPresence.h"

#include <QApplication>
#include <QWidget>

namespace {
// Only the main window changes; the floating panels are utility windows anyway.
bool isMainWindow(const QWidget *window)
{
    return window->isWindow() && window->windowType() != Qt::Popup &&
           (window->objectName().startsWith(QLatin1String("main")) ||
            window->windowTitle() == QLatin1String("Mivra Video"));
}
} // namespace

void WindowTaskbarPresence::setShown(bool shown)
{
    m_shown = shown;
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return;
    const QList<QWidget *> windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (isMainWindow(window))
            applyTo(window);
    }
}

void WindowTaskbarPresence::applyTo(QWidget *window) const
{
    const Qt::WindowType wanted = m_shown ? Qt::Window : Qt::Tool;
    if (window->windowType() == wanted)
        return;
    // Changing the type re-creates the native window, which hides it.
    const bool visible = window->isVisible();
    window->setWindowFlags((window->windowFlags() & ~Qt::WindowType_Mask) | wanted);
    if (visible)
        window->show();
}
