#pragma once

#include <QByteArray>

// Ed25519 over a whole file's bytes, the way appcast feeds sign their
// downloads: a 32-byte public key and a 64-byte signature, both base64.
namespace Signature {
// False for a key or signature of the wrong size or bad base64, or when the
// signature does not match.
bool verifyEd25519(const QByteArray &publicKeyBase64, const QByteArray &signatureBase64, const QByteArray &message);
} // namespace Signature
