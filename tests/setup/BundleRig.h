#pragma once

// Scratch bundles for the setup and update tests: a bundle folder with an
// AppRun script and metainfo, packed as a real .tar.xz, an update feed
// offering it, an Ed25519 key pair to sign it with, and a digest of a whole
// folder tree.

#include "QtPrinters.h"

#include <QList>
#include <QUrl>

namespace BundleRig {
inline constexpr auto kOurs = "video.mivra.mac";

// Makes <parent>/<name> with AppRun (a script that writes its MIVRA_
// environment to <parent>/<name>.launched, or `launchedFile` when given),
// bin/mivra and share/metainfo/<id>.metainfo.xml; returns its path.
QString makeBundle(const QString &parent, const QString &name, const QString &version,
                   const QString &identifier = QString::fromLatin1(kOurs), const QString &launchedFile = {});
// Writes `bytes` to `path`, making its folder.
void write(const QString &path, const QByteArray &bytes, bool executable = false);
// tar -cJ of `folder` with the folder itself as the only top entry.
QByteArray packTarXz(const QString &folder);
// An update feed of `items` made by feedItem.
QByteArray feed(const QList<QByteArray> &items);
// An item offering `version` at `url`, `length` bytes, signed with `signature`.
QByteArray feedItem(const QByteArray &version, const QUrl &url, qint64 length, const QByteArray &signature,
                    const QByteArray &notes = "<p>Faster links.</p>");
// SHA-256 over every path, mode, time and content below `folder`.
QByteArray treeDigest(const QString &folder);

// The Ed25519 key of a 32-byte `seed`.
struct KeyPair {
    QByteArray seed = QByteArray(32, 'k');
    QByteArray publicKeyBase64() const;
    QByteArray signBase64(const QByteArray &message) const;
};
} // namespace BundleRig
