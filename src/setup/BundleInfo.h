#pragma once

#include <QString>

#include <optional>

// A relocatable Mivra Video bundle: a folder with AppRun, bin/ and an
// AppStream metainfo file under share/metainfo that names the bundle
// (its identifier, version, update feed and signing key).
struct BundleInfo {
    static constexpr auto kIdentifier = "video.mivra.mac";
    static constexpr auto kFolderName = "Mivra Video";

    QString path; // the bundle folder, as given
    QString identifier;
    QString version;   // the newest <release version=…>
    QString feedUrl;   // <custom> "mivra:feed-url", may be empty
    QString publicKey; // <custom> "mivra:ed25519-key" (base64), may be empty

    // Reads the bundle at `folder`; nothing when it has no AppRun or no
    // readable metainfo file with an <id>.
    static std::optional<BundleInfo> read(const QString &folder);
    // The bundle this program runs from (its binary lives in <bundle>/bin),
    // or nothing when it was installed some other way (a package).
    static std::optional<BundleInfo> running();

    bool isOurs() const { return identifier == QLatin1String(kIdentifier); }
    QString launcher() const { return path + QStringLiteral("/AppRun"); }
};

// Compares dotted versions segment by segment: numbers numerically, other
// text as text, a missing segment as less ("1.2" < "1.2.1"). <0, 0, >0.
int compareVersions(const QString &a, const QString &b);
