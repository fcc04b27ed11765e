#include "platform/LeftOutWindows.h"

#include <QWindow>

LeftOutWindows &LeftOutWindows::instance()
{
    static LeftOutWindows windows;
    return windows;
}

void LeftOutWindows::add(quint32 windowId)
{
    std::lock_guard lock(m_mutex);
    if (windowId == 0 || m_ids.contains(windowId))
        return;
    m_ids.append(windowId);
    m_generation.fetch_add(1, std::memory_order_release);
}

void LeftOutWindows::remove(quint32 windowId)
{
    std::lock_guard lock(m_mutex);
    if (m_ids.removeAll(windowId) > 0)
        m_generation.fetch_add(1, std::memory_order_release);
}

QList<quint32> LeftOutWindows::ids() const
{
    std::lock_guard lock(m_mutex);
    return m_ids;
}

void LeftOutWindows::setLeftOut(QWindow *window, bool leftOut)
{
    if (!window)
        return;
    const auto id = static_cast<quint32>(window->winId());
    if (leftOut)
        instance().add(id);
    else
        instance().remove(id);
}
