#pragma once

#include <cstdint>
#include <string_view>

// The one byte range a media request asks for (RFC 9110, section 14).
struct ByteRange {
    enum class Kind {
        Whole,         // no Range header, one we ignore (several ranges, another unit), or If-Range mismatch
        Partial,       // serve [first, last] with 206
        Unsatisfiable, // answer 416 with "Content-Range: bytes */size"
    };
    Kind kind = Kind::Whole;
    std::uint64_t first = 0;
    std::uint64_t last = 0; // inclusive
};

// Interprets a Range header value for a representation of size bytes.
// "bytes=a-b", "bytes=a-" and "bytes=-n" are served; a last position past the
// end is clipped to it; a first position at or past the end, a suffix of 0,
// and any range of an empty file are unsatisfiable; malformed values are
// unsatisfiable too. Several ranges are answered with the whole file, which
// the standard allows.
ByteRange parseRange(std::string_view header, std::uint64_t size);
