#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

// The service's notion of "now", in milliseconds since the Unix epoch. Expiry,
// the sweeper and the upload time-out all read it, so tests can inject time.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::int64_t nowMs() const = 0;
};

class SystemClock final : public Clock {
public:
    std::int64_t nowMs() const override
    {
        using namespace std::chrono;
        return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    }
};

// A clock that only moves when told to.
class ManualClock final : public Clock {
public:
    explicit ManualClock(std::int64_t startMs) : m_now(startMs) {}
    std::int64_t nowMs() const override { return m_now.load(); }
    void set(std::int64_t ms) { m_now.store(ms); }
    void advance(std::int64_t ms) { m_now.fetch_add(ms); }

private:
    std::atomic<std::int64_t> m_now;
};
