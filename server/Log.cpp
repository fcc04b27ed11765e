#include "Log.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

std::string isoTimeUtc(std::int64_t epochMs)
{
    std::int64_t secs = epochMs / 1000;
    std::int64_t ms = epochMs % 1000;
    if (ms < 0) {
        ms += 1000;
        secs -= 1;
    }
    const std::time_t t = static_cast<std::time_t>(secs);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec, int(ms));
    return buf;
}

void logLine(const std::string &message)
{
    static std::mutex mutex;
    using namespace std::chrono;
    const auto now = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    const std::string line = isoTimeUtc(now) + " " + message + "\n";
    std::lock_guard lock(mutex);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}
