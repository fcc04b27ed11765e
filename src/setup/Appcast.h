#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>
#include <vector>

// One release in an appcast feed: an RSS 2.0 <item> with the `sparkle`
// namespace's version attributes and an enclosure carrying the bundle's
// address, length and Ed25519 signature.
struct AppcastItem {
    QString title;
    QString version;      // sparkle:version, compared with the installed one
    QString shortVersion; // sparkle:shortVersionString, shown to people
    QUrl url;
    qint64 length = -1;
    QByteArray edSignature; // base64, as published
    QString notes;          // <description>, HTML or text
    QUrl notesLink;         // sparkle:releaseNotesLink

    QString displayVersion() const { return shortVersion.isEmpty() ? version : shortVersion; }
};

namespace Appcast {
inline constexpr auto kSparkleNamespace = "http://www.andymatuschak.org/xml-namespaces/sparkle";

// The feed's items that carry a version and a downloadable enclosure, in feed
// order. Throws UpdateError when the document is not such a feed.
std::vector<AppcastItem> parse(const QByteArray &document, const QUrl &base = {});

// The item with the highest version, if any.
std::optional<AppcastItem> newest(const std::vector<AppcastItem> &items);
} // namespace Appcast
