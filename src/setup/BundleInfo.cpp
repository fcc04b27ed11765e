#include "setup/BundleInfo.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QXmlStreamReader>

namespace {
std::optional<BundleInfo> readMetainfo(const QString &file, const QString &folder)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return std::nullopt;
    BundleInfo info;
    info.path = folder;
    QXmlStreamReader xml(&in);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto name = xml.name();
        if (name == u"id" && info.identifier.isEmpty()) {
            info.identifier = xml.readElementText().trimmed();
        } else if (name == u"release" && info.version.isEmpty()) {
            info.version = xml.attributes().value(QLatin1String("version")).toString().trimmed();
        } else if (name == u"value") {
            const QString key = xml.attributes().value(QLatin1String("key")).toString();
            const QString text = xml.readElementText().trimmed();
            if (key == u"mivra:feed-url")
                info.feedUrl = text;
            else if (key == u"mivra:ed25519-key")
                info.publicKey = text;
        }
    }
    if (xml.hasError() || info.identifier.isEmpty())
        return std::nullopt;
    return info;
}
} // namespace

std::optional<BundleInfo> BundleInfo::read(const QString &folder)
{
    if (!QFileInfo(folder + QStringLiteral("/AppRun")).isFile())
        return std::nullopt;
    const QDir metainfo(folder + QStringLiteral("/share/metainfo"));
    const QStringList files = metainfo.entryList({QStringLiteral("*.xml")}, QDir::Files, QDir::Name);
    for (const QString &file : files) {
        if (auto info = readMetainfo(metainfo.filePath(file), folder))
            return info;
    }
    return std::nullopt;
}

std::optional<BundleInfo> BundleInfo::running()
{
    const QDir bin(QCoreApplication::applicationDirPath());
    if (bin.dirName() != QLatin1String("bin"))
        return std::nullopt;
    return read(QFileInfo(bin.absolutePath()).absolutePath());
}

int compareVersions(const QString &a, const QString &b)
{
    static const QRegularExpression separators(QStringLiteral("[.\\-+_]"));
    const QStringList left = a.split(separators, Qt::SkipEmptyParts);
    const QStringList right = b.split(separators, Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < std::max(left.size(), right.size()); ++i) {
        if (i >= left.size())
            return -1;
        if (i >= right.size())
            return 1;
        bool leftNumber = false, rightNumber = false;
        const qulonglong l = left[i].toULongLong(&leftNumber);
        const qulonglong r = right[i].toULongLong(&rightNumber);
        if (leftNumber && rightNumber) {
            if (l != r)
                return l < r ? -1 : 1;
        } else if (leftNumber != rightNumber) {
            return leftNumber ? 1 : -1; // 1.0.1 is newer than 1.0.beta
        } else if (const int c = left[i].compare(right[i]); c != 0) {
            return c < 0 ? -1 : 1;
        }
    }
    return 0;
}
