#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// Random ids and digests for the sharing service.
namespace crypto {

// Fills buf with bytes from the kernel's CSPRNG (getrandom); throws on failure.
void randomBytes(void *buf, std::size_t size);

// A fresh video id: 18 random bytes (144 bits) as 24 characters of
// base64url ("A-Z a-z 0-9 - _"), so it is safe in a URL path as it is; drawn
// again when it would begin or end with "-" or "_".
std::string newVideoId();
// True when s has exactly the shape newVideoId() makes.
bool isVideoId(std::string_view s);

std::string toHex(const unsigned char *data, std::size_t size);

// Incremental SHA-256.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;

    void update(const void *data, std::size_t size);
    // Lowercase hex of the digest; the object is spent afterwards.
    std::string finishHex();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

std::string sha256Hex(std::string_view data);

// A part's etag digests its bytes, so recovery can tell a part a machine crash
// tore from one that reached the disk. New etags are "xxh3-" and the XXH3-128
// of the bytes in hex (fast enough to keep pace with a disk); parts stored by
// older servers keep their etags of 64 hex digits (SHA-256).
class PartDigest {
public:
    enum class Kind { xxh3, sha256 };
    explicit PartDigest(Kind kind = Kind::xxh3);
    ~PartDigest();
    PartDigest(const PartDigest &) = delete;
    PartDigest &operator=(const PartDigest &) = delete;

    // The kind of digest an etag was made with; nullopt for a foreign shape.
    static std::optional<Kind> kindOf(std::string_view etag);

    void update(const void *data, std::size_t size);
    // The etag; the object is spent afterwards.
    std::string finishEtag();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

std::string partEtag(std::string_view bytes);

} // namespace crypto
