#include "Crypto.h"

#include <openssl/evp.h>
#include <xxhash.h>

#include <cerrno>
#include <stdexcept>
#include <sys/random.h>

namespace crypto {

void randomBytes(void *buf, std::size_t size)
{
    auto *p = static_cast<unsigned char *>(buf);
    while (size > 0) {
        const ssize_t n = getrandom(p, size, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw std::runtime_error("getrandom failed");
        }
        p += n;
        size -= std::size_t(n);
    }
}

namespace {
constexpr char kBase64Url[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
constexpr std::size_t kIdBytes = 18;
constexpr std::size_t kIdChars = kIdBytes / 3 * 4;
} // namespace

std::string newVideoId()
{
    auto alnum = [](char c) { return c != '-' && c != '_'; };
    for (;;) {
        unsigned char raw[kIdBytes];
        randomBytes(raw, sizeof raw);
        std::string out;
        out.reserve(kIdChars);
        for (std::size_t i = 0; i < kIdBytes; i += 3) {
            const unsigned v = (unsigned(raw[i]) << 16) | (unsigned(raw[i + 1]) << 8) | raw[i + 2];
            out += kBase64Url[(v >> 18) & 63];
            out += kBase64Url[(v >> 12) & 63];
            out += kBase64Url[(v >> 6) & 63];
            out += kBase64Url[v & 63];
        }
        // Ids neither begin nor end with "-" or "_": a link pasted into a
        // chat or a terminal then keeps its last character and reads as no
        // option. Costs about 0.1 of the 144 random bits.
        if (alnum(out.front()) && alnum(out.back()))
            return out;
    }
}

bool isVideoId(std::string_view s)
{
    if (s.size() != kIdChars)
        return false;
    for (const char c : s) {
        const bool ok =
            (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
        if (!ok)
            return false;
    }
    return true;
}

std::string toHex(const unsigned char *data, std::size_t size)
{
    static const char *hex = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        out += hex[data[i] >> 4];
        out += hex[data[i] & 0xF];
    }
    return out;
}

struct Sha256::Impl {
    EVP_MD_CTX *ctx = nullptr;
};

Sha256::Sha256() : m_impl(std::make_unique<Impl>())
{
    m_impl->ctx = EVP_MD_CTX_new();
    if (!m_impl->ctx || EVP_DigestInit_ex(m_impl->ctx, EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 is not available");
}

Sha256::~Sha256()
{
    EVP_MD_CTX_free(m_impl->ctx);
}

void Sha256::update(const void *data, std::size_t size)
{
    if (size > 0)
        EVP_DigestUpdate(m_impl->ctx, data, size);
}

std::string Sha256::finishHex()
{
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_DigestFinal_ex(m_impl->ctx, md, &len);
    return toHex(md, len);
}

std::string sha256Hex(std::string_view data)
{
    Sha256 h;
    h.update(data.data(), data.size());
    return h.finishHex();
}

namespace {
constexpr std::string_view kXxh3Prefix = "xxh3-";

bool isLowerHex(std::string_view s)
{
    for (const char c : s)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}
} // namespace

struct PartDigest::Impl {
    explicit Impl(Kind kind) : kind(kind)
    {
        if (kind == Kind::sha256) {
            sha.emplace();
            return;
        }
        xxh = XXH3_createState();
        if (!xxh || XXH3_128bits_reset(xxh) != XXH_OK)
            throw std::runtime_error("XXH3 is not available");
    }
    ~Impl() { XXH3_freeState(xxh); }

    Kind kind;
    XXH3_state_t *xxh = nullptr;
    std::optional<Sha256> sha;
};

PartDigest::PartDigest(Kind kind) : m_impl(std::make_unique<Impl>(kind))
{
}

PartDigest::~PartDigest() = default;

std::optional<PartDigest::Kind> PartDigest::kindOf(std::string_view etag)
{
    if (etag.size() == kXxh3Prefix.size() + 32 && etag.starts_with(kXxh3Prefix) &&
        isLowerHex(etag.substr(kXxh3Prefix.size())))
        return Kind::xxh3;
    if (etag.size() == 64 && isLowerHex(etag))
        return Kind::sha256;
    return std::nullopt;
}

void PartDigest::update(const void *data, std::size_t size)
{
    if (m_impl->sha)
        m_impl->sha->update(data, size);
    else if (size > 0)
        XXH3_128bits_update(m_impl->xxh, data, size);
}

std::string PartDigest::finishEtag()
{
    if (m_impl->sha)
        return m_impl->sha->finishHex();
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, XXH3_128bits_digest(m_impl->xxh));
    return std::string(kXxh3Prefix) + toHex(canonical.digest, sizeof canonical.digest);
}

std::string partEtag(std::string_view bytes)
{
    PartDigest digest;
    digest.update(bytes.data(), bytes.size());
    return digest.finishEtag();
}

} // namespace crypto
