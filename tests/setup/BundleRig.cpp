#include "BundleRig.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <openssl/evp.h>

namespace BundleRig {
namespace {
void write(const QString &path, const QByteArray &bytes, bool executable = false)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    file.write(bytes);
    if (executable)
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeUser);
}
} // namespace

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

KeyPair::KeyPair()
{
    EVP_PKEY_CTX *context = EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr);
    EVP_PKEY *made = nullptr;
    EVP_PKEY_keygen_init(context);
    EVP_PKEY_keygen(context, &made);
    EVP_PKEY_CTX_free(context);
    key = made;
}

KeyPair::~KeyPair()
{
    EVP_PKEY_free(static_cast<EVP_PKEY *>(key));
}

QByteArray KeyPair::publicKeyBase64() const
{
    unsigned char raw[32];
    size_t size = sizeof raw;
    EVP_PKEY_get_raw_public_key(static_cast<EVP_PKEY *>(key), raw, &size);
    return QByteArray(reinterpret_cast<const char *>(raw), int(size)).toBase64();
}

QByteArray KeyPair::signBase64(const QByteArray &message) const
{
    unsigned char signature[64];
    size_t size = sizeof signature;
    EVP_MD_CTX *context = EVP_MD_CTX_new();
    EVP_DigestSignInit(context, nullptr, nullptr, nullptr, static_cast<EVP_PKEY *>(key));
    EVP_DigestSign(context, signature, &size, reinterpret_cast<const unsigned char *>(message.constData()),
                   message.size());
    EVP_MD_CTX_free(context);
    return QByteArray(reinterpret_cast<const char *>(signature), int(size)).toBase64();
}
} // namespace BundleRig
