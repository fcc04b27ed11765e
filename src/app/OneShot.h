#pragma once

#include <functional>

// Lets the first of several racing arrivals (a window notification, a
// fallback timer) resume a waiting task; later arrivals do nothing.
class OneShot {
public:
    explicit OneShot(std::function<void()> resume) : m_resume(std::move(resume)) {}

    // Runs once, on the first arrival, before resuming (removes observers).
    void setCleanup(std::function<void()> cleanup) { m_cleanup = std::move(cleanup); }
    bool fired() const { return m_fired; }

    // Returns whether this arrival was the first.
    bool fire()
    {
        if (m_fired)
            return false;
        m_fired = true;
        if (m_cleanup)
            std::exchange(m_cleanup, nullptr)();
        if (m_resume)
            std::exchange(m_resume, nullptr)();
        return true;
    }

private:
    bool m_fired = false;
    std::function<void()> m_cleanup;
    std::function<void()> m_resume;
};
