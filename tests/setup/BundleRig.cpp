#include "BundleRig.h"

#include <QCryptographicHash>
#include <QDir>
#include <QProcess>

#include <openssl/evp.h>

namespace BundleRig {
void write(const QString &path, const QByteArray &bytes, bool executable)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    file.write(bytes);
    if (executable)
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeUser);
}

QString makeBundle(const QString &parent, const QString &name, const QString &version, const QString &identifier,
                   const QString &launchedFile)
{
    const QString folder = parent + QLatin1Char('/') + name;
    const QString launched = launchedFile.isEmpty() ? folder + QStringLiteral(".launched") : launchedFile;
    write(
        folder + QStringLiteral("/AppRun"),
        QStringLiteral(
            "#!/bin/sh\nenv | grep '^MIVRA_' | sort > '%1.tmp'\necho \"version=%2 at $(dirname \"$0\")\" >> '%1.tmp'\n"
            "mv '%1.tmp' '%1'\n")
            .arg(launched, version)
            .toUtf8(),
        true);
    write(folder + QStringLiteral("/bin/mivra"), "#!/bin/sh\n" + version.toUtf8() + "\n", true);
    write(folder + QStringLiteral("/share/metainfo/") + identifier + QStringLiteral(".metainfo.xml"),
          QStringLiteral(
              "<?xml version=\"1.0\"?>\n<component type=\"desktop-application\">\n  <id>%1</id>\n"
              "  <releases>\n    <release version=\"%2\" date=\"2026-12-01\"/>\n    <release version=\"0.0.1\"/>\n"
              "  </releases>\n</component>\n")
              .arg(identifier, version)
              .toUtf8());
    return folder;
}

QByteArray packTarXz(const QString &folder)
{
    const QFileInfo info(folder);
    QProcess tar;
    tar.start(QStringLiteral("tar"), {QStringLiteral("-cJf"), QStringLiteral("-"), QStringLiteral("-C"),
                                      info.absolutePath(), info.fileName()});
    tar.waitForFinished(60'000);
    return tar.readAllStandardOutput();
}

QByteArray feed(const QList<QByteArray> &items)
{
    return "<?xml version=\"1.0\"?>\n<rss version=\"2.0\" "
           "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">"
           "<channel><title>Mivra Video</title>" +
           items.join() + "</channel></rss>";
}

QByteArray feedItem(const QByteArray &version, const QUrl &url, qint64 length, const QByteArray &signature,
                    const QByteArray &notes)
{
    return "<item><title>Version " + version + "</title><sparkle:version>" + version +
           "</sparkle:version><sparkle:shortVersionString>" + version +
           "</sparkle:shortVersionString><description><![CDATA[" + notes + "]]></description><enclosure url=\"" +
           url.toEncoded() + "\" length=\"" + QByteArray::number(length) +
           "\" type=\"application/x-xz\" sparkle:edSignature=\"" + signature + "\"/></item>";
}

QByteArray treeDigest(const QString &folder)
{
    // The archive holds every path, mode, time and content.
    return QCryptographicHash::hash(packTarXz(folder), QCryptographicHash::Sha256).toHex();
}

namespace {
using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

Key keyOf(const QByteArray &seed)
{
    return Key(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr,
                                            reinterpret_cast<const unsigned char *>(seed.constData()), seed.size()),
               &EVP_PKEY_free);
}
} // namespace

QByteArray KeyPair::publicKeyBase64() const
{
    QByteArray raw(32, 0);
    size_t size = raw.size();
    EVP_PKEY_get_raw_public_key(keyOf(seed).get(), reinterpret_cast<unsigned char *>(raw.data()), &size);
    return raw.toBase64();
}

QByteArray KeyPair::signBase64(const QByteArray &message) const
{
    QByteArray signature(64, 0);
    size_t size = signature.size();
    const Key key = keyOf(seed);
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get());
    EVP_DigestSign(context.get(), reinterpret_cast<unsigned char *>(signature.data()), &size,
                   reinterpret_cast<const unsigned char *>(message.constData()), message.size());
    return signature.toBase64();
}
} // namespace BundleRig
