#include "ServerConfig.h"

#include <charconv>

namespace {

std::optional<std::int64_t> parseInt(const std::string &text)
{
    std::int64_t v = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || ptr != text.data() + text.size())
        return std::nullopt;
    return v;
}

} // namespace

std::string usageText()
{
    return R"(Usage: mivra-server --data DIR [options]

The reference sharing service of Mivra Video: stores uploaded recordings and
serves their share links (/v/<id>) and media (/r/<id>).

Options:
  --listen HOST:PORT      address to serve on (default 127.0.0.1:8787); port 0
                          picks a free port. The first line on stdout is
                          "listening on http://HOST:PORT" with the real port.
  --data DIR              folder for the database and the video files (required;
                          created if missing; one server per folder)
  --public-origin URL     origin of share links, e.g. https://videos.example.com
                          (default: http://HOST:PORT of --listen)
  --part-size BYTES       size of upload parts handed to clients (default 8M)
  --max-video-size BYTES  largest video accepted (default 20G)
  --upload-timeout SECS   uploads not completed within this are removed
                          (default 86400)
  --sweep-interval SECS   how often expired videos are removed (default 60)
  --threads N             connections served at once (default 256)
  --max-connections-per-client N
                          connections one client address may hold (default 16)
  --request-timeout SECS  time for a request's headers, and for each 64 KiB
                          of its body on average (default 30)
  --max-uploads-per-device N
                          uploads in progress per device (default 10; 429 beyond)
  --max-videos-per-device N
                          videos kept per device (default 10000; 507 beyond)
  --max-bytes-per-device BYTES
                          bytes kept per device (default 200G; 507 beyond)
  --disk-reserve BYTES    free disk below which uploads are refused (default
                          1G; 507)
  --quiet                 do not log one line per request
  --help                  show this help
  --version               show the version

BYTES accept the suffixes K, M and G (powers of 1024). Logs go to stderr.
)";
}

bool parseListen(const std::string &text, std::string &host, int &port)
{
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    std::string h = text.substr(0, colon);
    if (h.front() == '[') {
        if (h.size() < 3 || h.back() != ']')
            return false;
        h = h.substr(1, h.size() - 2);
    } else if (h.find(':') != std::string::npos) {
        return false; // an IPv6 address needs brackets
    }
    const auto p = parseInt(text.substr(colon + 1));
    if (!p || *p < 0 || *p > 65535)
        return false;
    host = h;
    port = int(*p);
    return true;
}

std::optional<std::int64_t> parseSize(const std::string &text)
{
    if (text.empty())
        return std::nullopt;
    std::int64_t mult = 1;
    std::string digits = text;
    switch (text.back()) {
    case 'K':
    case 'k':
        mult = 1024;
        break;
    case 'M':
    case 'm':
        mult = 1024 * 1024;
        break;
    case 'G':
    case 'g':
        mult = 1024 * 1024 * 1024;
        break;
    default:
        break;
    }
    if (mult != 1)
        digits.pop_back();
    const auto v = parseInt(digits);
    if (!v || *v <= 0 || *v > (std::int64_t(1) << 50) / mult)
        return std::nullopt;
    return *v * mult;
}

std::optional<std::string> normaliseOrigin(const std::string &text)
{
    std::string o = text;
    while (!o.empty() && o.back() == '/')
        o.pop_back();
    std::string rest;
    if (o.rfind("http://", 0) == 0)
        rest = o.substr(7);
    else if (o.rfind("https://", 0) == 0)
        rest = o.substr(8);
    else
        return std::nullopt;
    if (rest.empty())
        return std::nullopt;
    for (const char c : rest) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7F || c == '/' || c == '?' || c == '#' || c == '"' || c == '<' || c == '>' ||
            c == '\\' || c == '\'')
            return std::nullopt;
    }
    return o;
}

ParsedArgs parseArgs(const std::vector<std::string> &args)
{
    ParsedArgs out;
    ServerConfig c;
    bool haveData = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::string value;
        bool hasValue = false;
        if (arg.rfind("--", 0) == 0) {
            if (const std::size_t eq = arg.find('='); eq != std::string::npos) {
                value = arg.substr(eq + 1);
                arg = arg.substr(0, eq);
                hasValue = true;
            }
        }
        auto next = [&](std::string &v) {
            if (hasValue) {
                v = value;
                return true;
            }
            if (i + 1 >= args.size()) {
                out.error = arg + " needs a value";
                return false;
            }
            v = args[++i];
            return true;
        };
        std::string v;
        if (arg == "--help" || arg == "-h") {
            out.help = true;
            return out;
        } else if (arg == "--version") {
            out.version = true;
            return out;
        } else if (arg == "--quiet") {
            c.logRequests = false;
        } else if (arg == "--listen") {
            if (!next(v))
                return out;
            if (!parseListen(v, c.host, c.port)) {
                out.error = "--listen wants HOST:PORT, e.g. 127.0.0.1:8787 or [::1]:0, not \"" + v + "\"";
                return out;
            }
        } else if (arg == "--data") {
            if (!next(v))
                return out;
            if (v.empty()) {
                out.error = "--data needs a folder";
                return out;
            }
            c.dataDir = v;
            haveData = true;
        } else if (arg == "--public-origin") {
            if (!next(v))
                return out;
            const auto o = normaliseOrigin(v);
            if (!o) {
                out.error = "--public-origin wants http(s)://HOST[:PORT] with no path, not \"" + v + "\"";
                return out;
            }
            c.publicOrigin = *o;
        } else if (std::int64_t *size = arg == "--part-size"              ? &c.partSize
                                        : arg == "--max-video-size"       ? &c.maxVideoBytes
                                        : arg == "--max-bytes-per-device" ? &c.maxBytesPerDevice
                                        : arg == "--disk-reserve"         ? &c.diskReserveBytes
                                                                          : nullptr) {
            std::string name = arg;
            if (!next(v))
                return out;
            const auto n = parseSize(v);
            if (!n) {
                out.error = name + " wants a positive number of bytes (suffixes K, M, G), not \"" + v + "\"";
                return out;
            }
            *size = *n;
        } else if (std::int64_t *count = arg == "--max-connections-per-client" ? &c.maxConnectionsPerClient
                                         : arg == "--request-timeout"          ? &c.requestTimeoutSeconds
                                         : arg == "--max-uploads-per-device"   ? &c.maxUploadsPerDevice
                                         : arg == "--max-videos-per-device"    ? &c.maxVideosPerDevice
                                                                               : nullptr) {
            std::string name = arg;
            if (!next(v))
                return out;
            const auto n = parseInt(v);
            if (!n || *n <= 0 || *n > 1000000000) {
                out.error = name + " wants a positive whole number, not \"" + v + "\"";
                return out;
            }
            *count = *n;
        } else if (arg == "--upload-timeout" || arg == "--sweep-interval" || arg == "--threads") {
            std::string name = arg;
            if (!next(v))
                return out;
            const auto n = parseInt(v);
            if (!n || *n <= 0 || *n > 100LL * 365 * 86400) {
                out.error = name + " wants a positive whole number, not \"" + v + "\"";
                return out;
            }
            if (name == "--upload-timeout")
                c.uploadTimeoutSeconds = *n;
            else if (name == "--sweep-interval")
                c.sweepIntervalMs = *n * 1000;
            else if (*n > 1024) {
                out.error = "--threads is at most 1024";
                return out;
            } else
                c.threads = int(*n);
        } else {
            out.error = "unknown argument \"" + arg + "\" (see --help)";
            return out;
        }
    }
    if (!haveData) {
        out.error = "--data DIR is required (see --help)";
        return out;
    }
    if (c.partSize > c.maxVideoBytes) {
        out.error = "--part-size must not exceed --max-video-size";
        return out;
    }
    out.config = c;
    return out;
}
