#include "setup/Signature.h"

#include <openssl/evp.h>

#include <memory>

namespace {
struct KeyFree {
    void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
};
struct ContextFree {
    void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
};

QByteArray strictBase64(const QByteArray &text)
{
    auto decoded = QByteArray::fromBase64Encoding(text.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    return decoded ? *decoded : QByteArray();
}
} // namespace

bool Signature::verifyEd25519(const QByteArray &publicKeyBase64, const QByteArray &signatureBase64,
                              const QByteArray &message)
{
    const QByteArray key = strictBase64(publicKeyBase64);
    const QByteArray signature = strictBase64(signatureBase64);
    if (key.size() != 32 || signature.size() != 64)
        return false;
    std::unique_ptr<EVP_PKEY, KeyFree> pkey(EVP_PKEY_new_raw_public_key(
        EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char *>(key.constData()), key.size()));
    std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
    if (!pkey || !context || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, pkey.get()) != 1)
        return false;
    return EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char *>(signature.constData()),
                            signature.size(), reinterpret_cast<const unsigned char *>(message.constData()),
                            message.size()) == 1;
}
