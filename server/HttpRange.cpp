#include "HttpRange.h"

#include <cctype>
#include <charconv>

namespace {

std::string_view trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

bool parseNumber(std::string_view s, std::uint64_t &out)
{
    if (s.empty() || s.size() > 19)
        return false;
    for (const char c : s)
        if (c < '0' || c > '9')
            return false;
    auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && ptr == s.data() + s.size();
}

} // namespace

ByteRange parseRange(std::string_view header, std::uint64_t size)
{
    ByteRange unsatisfiable;
    unsatisfiable.kind = ByteRange::Kind::Unsatisfiable;

    header = trim(header);
    constexpr std::string_view prefix = "bytes=";
    // A unit other than bytes is not ours to refuse: the range is ignored.
    if (header.size() < prefix.size())
        return ByteRange{};
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(header[i])) != prefix[i])
            return ByteRange{};
    std::string_view spec = trim(header.substr(prefix.size()));
    if (spec.find(',') != std::string_view::npos)
        return ByteRange{}; // several ranges: the whole file

    const std::size_t dash = spec.find('-');
    if (dash == std::string_view::npos)
        return unsatisfiable;
    const std::string_view a = trim(spec.substr(0, dash));
    const std::string_view b = trim(spec.substr(dash + 1));

    ByteRange r;
    r.kind = ByteRange::Kind::Partial;
    if (a.empty()) { // suffix: the last n bytes
        std::uint64_t n = 0;
        if (!parseNumber(b, n) || n == 0 || size == 0)
            return unsatisfiable;
        r.first = n >= size ? 0 : size - n;
        r.last = size - 1;
        return r;
    }
    std::uint64_t first = 0;
    if (!parseNumber(a, first))
        return unsatisfiable;
    std::uint64_t last = 0;
    if (b.empty()) {
        last = size == 0 ? 0 : size - 1;
    } else if (!parseNumber(b, last) || last < first) {
        return unsatisfiable;
    }
    if (first >= size)
        return unsatisfiable;
    r.first = first;
    r.last = last >= size ? size - 1 : last;
    return r;
}
