#pragma once

#include <cstdint>
#include <string>

// One line to stderr: an ISO-8601 UTC time, a space and the message. Safe
// from any thread.
void logLine(const std::string &message);

// "2024-05-01T12:00:00.000Z" for a time in epoch milliseconds.
std::string isoTimeUtc(std::int64_t epochMs);
