#pragma once

#include "Service.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// The command line of mivra-server.
struct ServerConfig {
    std::string host = "127.0.0.1";
    int port = 8787;
    std::filesystem::path dataDir;
    std::string publicOrigin; // empty: http://<listen address>
    std::int64_t partSize = limits::kDefaultPartSize;
    std::int64_t maxVideoBytes = limits::kDefaultMaxVideoBytes;
    std::int64_t uploadTimeoutSeconds = limits::kDefaultUploadTimeoutSeconds;
    std::int64_t sweepIntervalMs = 60000; // --sweep-interval is in seconds
    int threads = 256;
    bool logRequests = true;
    std::int64_t maxUploadsPerDevice = ServiceOptions{}.maxUploadsPerDevice;
    std::int64_t maxVideosPerDevice = ServiceOptions{}.maxVideosPerDevice;
    std::int64_t maxBytesPerDevice = ServiceOptions{}.maxBytesPerDevice;
    std::int64_t diskReserveBytes = ServiceOptions{}.diskReserveBytes;
    std::int64_t maxConnectionsPerClient = 16;
    std::int64_t requestTimeoutSeconds = 30; // for a request's headers, and its body's slowest pace
};

struct ParsedArgs {
    std::optional<ServerConfig> config; // empty on error or --help
    bool help = false;
    bool version = false;
    std::string error;
};

ParsedArgs parseArgs(const std::vector<std::string> &args);
std::string usageText();

// "127.0.0.1:8787", "[::1]:0", "0.0.0.0:80" -> host and port.
bool parseListen(const std::string &text, std::string &host, int &port);
// "8388608", "8M", "512K", "20G" (binary multiples) -> bytes.
std::optional<std::int64_t> parseSize(const std::string &text);
// "https://videos.example.com" (a trailing "/" is dropped); scheme and host only.
std::optional<std::string> normaliseOrigin(const std::string &text);
