#include "setup/Appcast.h"

#include "setup/BundleInfo.h"
#include "setup/UpdateError.h"

#include <QXmlStreamReader>

namespace {
const QString sparkle = QString::fromLatin1(Appcast::kSparkleNamespace);

QString sparkleValue(const QXmlStreamAttributes &attributes, QLatin1String name)
{
    return attributes.value(sparkle, name).toString().trimmed();
}

AppcastItem readItem(QXmlStreamReader &xml, const QUrl &base)
{
    AppcastItem item;
    while (xml.readNextStartElement()) {
        const bool inSparkle = xml.namespaceUri() == sparkle;
        const auto name = xml.name();
        if (!inSparkle && name == u"title") {
            item.title = xml.readElementText().trimmed();
        } else if (!inSparkle && name == u"description") {
            item.notes = xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
        } else if (inSparkle && name == u"version") {
            item.version = xml.readElementText().trimmed();
        } else if (inSparkle && name == u"shortVersionString") {
            item.shortVersion = xml.readElementText().trimmed();
        } else if (inSparkle && name == u"releaseNotesLink") {
            item.notesLink = base.resolved(QUrl(xml.readElementText().trimmed()));
        } else if (!inSparkle && name == u"enclosure") {
            const auto attributes = xml.attributes();
            item.url = base.resolved(QUrl(attributes.value(QLatin1String("url")).toString().trimmed()));
            bool ok = false;
            const qint64 length = attributes.value(QLatin1String("length")).toLongLong(&ok);
            item.length = ok ? length : -1;
            item.edSignature = sparkleValue(attributes, QLatin1String("edSignature")).toLatin1();
            // Older feeds put the versions on the enclosure.
            if (const QString v = sparkleValue(attributes, QLatin1String("version"));
                !v.isEmpty() && item.version.isEmpty())
                item.version = v;
            if (const QString v = sparkleValue(attributes, QLatin1String("shortVersionString"));
                !v.isEmpty() && item.shortVersion.isEmpty())
                item.shortVersion = v;
            xml.skipCurrentElement();
        } else {
            xml.skipCurrentElement();
        }
    }
    return item;
}
} // namespace

std::vector<AppcastItem> Appcast::parse(const QByteArray &document, const QUrl &base)
{
    QXmlStreamReader xml(document);
    std::vector<AppcastItem> items;
    bool sawRss = false;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == u"rss")
            sawRss = true;
        else if (xml.name() == u"item" && sawRss) {
            AppcastItem item = readItem(xml, base);
            if (!item.version.isEmpty() && item.url.isValid() && !item.url.isEmpty())
                items.push_back(std::move(item));
        }
    }
    if (xml.hasError())
        throw UpdateError(QStringLiteral("The update feed is not valid XML (line %1: %2).")
                              .arg(xml.lineNumber())
                              .arg(xml.errorString()));
    if (!sawRss)
        throw UpdateError(QStringLiteral("The update feed is not an RSS feed."));
    return items;
}

std::optional<AppcastItem> Appcast::newest(const std::vector<AppcastItem> &items)
{
    const AppcastItem *best = nullptr;
    for (const AppcastItem &item : items) {
        if (!best || compareVersions(item.version, best->version) > 0)
            best = &item;
    }
    return best ? std::optional<AppcastItem>(*best) : std::nullopt;
}
