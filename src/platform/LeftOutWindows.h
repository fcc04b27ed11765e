#pragma once

#include <QList>

#include <atomic>
#include <mutex>

class QWindow;

// Our own windows that screen captures must leave out (the bubble while the
// video draws it in a corner, the recording bar). X11 cannot hide a window
// from a capture, so the X11 screen source reads this set on its capture
// thread and paints over these windows with what lies beneath them.
class LeftOutWindows {
public:
    static LeftOutWindows &instance();

    // Native (X11) window ids; adding twice or removing an unknown id is harmless.
    void add(quint32 windowId);
    void remove(quint32 windowId);
    QList<quint32> ids() const;
    // Changes with every add or remove, so a reader can skip unchanged sets.
    quint64 generation() const { return m_generation.load(std::memory_order_acquire); }

    // Adds or removes `window`'s native id. Main thread.
    static void setLeftOut(QWindow *window, bool leftOut);

private:
    mutable std::mutex m_mutex;
    QList<quint32> m_ids;
    std::atomic<quint64> m_generation{0};
};
