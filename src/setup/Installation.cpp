#include "setup/Installation.h"

#include "base/Diag.h"
#include "platform/PreferenceStore.h"
#include "platform/Trash.h"
#include "setup/BundleInfo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

namespace {
// Resolved where the path exists, always without "." and "..".
QString clean(const QString &path)
{
    const QString resolved = QFileInfo(path).canonicalFilePath();
    return QDir::cleanPath(resolved.isEmpty() ? QFileInfo(path).absoluteFilePath() : resolved);
}

QStringList applicationFolders()
{
    QStringList folders{Installation::installDir(), Installation::userApplications(), QStringLiteral("/opt")};
    folders.removeDuplicates();
    return folders;
}

QString desktopQuoted(const QString &path)
{
    QString quoted = path;
    for (const char *special : {"\\", "\"", "`", "$"})
        quoted.replace(QLatin1String(special), QLatin1String("\\") + QLatin1String(special));
    return QLatin1Char('"') + quoted.replace(QLatin1String("%"), QLatin1String("%%")) + QLatin1Char('"');
}
} // namespace

QString Installation::installDir()
{
    const QString configured = qEnvironmentVariable("MIVRA_INSTALL_DIR");
    return QDir::cleanPath(configured.isEmpty() ? userApplications() : QFileInfo(configured).absoluteFilePath());
}

QString Installation::userApplications()
{
    return QDir::homePath() + QStringLiteral("/Applications");
}

bool Installation::isInApplications(const QString &path)
{
    const QString resolved = clean(path);
    for (const QString &folder : applicationFolders()) {
        if (resolved.startsWith(clean(folder) + QLatin1Char('/')))
            return true;
    }
    return false;
}

QStringList Installation::findOldCopies(const std::optional<QString> &folder, const QString &running)
{
    const QString self = clean(running);
    QStringList found;
    for (const QString &scanned : folder ? QStringList{*folder} : applicationFolders()) {
        const QDir dir(scanned);
        for (const QString &name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name)) {
            const QString entry = dir.filePath(name);
            if (clean(entry) == self)
                continue;
            if (const auto bundle = BundleInfo::read(entry); bundle && bundle->isOurs())
                found << entry;
        }
    }
    return found;
}

QString Installation::originalLocation(const QString &path)
{
    return path;
}

void Installation::trash(const QStringList &paths)
{
    for (const QString &path : paths) {
        if (!QFileInfo::exists(path))
            continue;
        if (!Trash::moveToTrash(path))
            throw InstallError(
                QStringLiteral("%1 could not be moved to the Trash.").arg(QDir::toNativeSeparators(path)));
        Diag::log(QStringLiteral("moved old copy to Trash: ") + path);
    }
}

void Installation::copyIntoApplications(const QString &source, const QString &destination, const QStringList &oldCopies)
{
    if (QFileInfo::exists(destination) && !Trash::moveToTrash(destination))
        throw InstallError(QStringLiteral("%1 is in the way and could not be moved to the Trash.").arg(destination));
    QDir().mkpath(QFileInfo(destination).absolutePath());
    const QString partial = destination + QStringLiteral(".partial");
    QDir(partial).removeRecursively();
    QProcess copy;
    copy.setProcessChannelMode(QProcess::MergedChannels);
    copy.start(QStringLiteral("cp"), {QStringLiteral("-a"), QStringLiteral("--"), source, partial});
    if (!copy.waitForFinished(120'000) || copy.exitStatus() != QProcess::NormalExit || copy.exitCode() != 0) {
        const QString why = QString::fromLocal8Bit(copy.readAll()).trimmed();
        QDir(partial).removeRecursively();
        throw InstallError(QStringLiteral("Mivra Video could not be copied to %1 (%2).")
                               .arg(QFileInfo(destination).absolutePath(), why.isEmpty() ? copy.errorString() : why));
    }
    if (!QDir().rename(partial, destination)) {
        QDir(partial).removeRecursively();
        throw InstallError(QStringLiteral("Mivra Video could not be copied to %1.").arg(destination));
    }
    const QString kept = clean(destination);
    QStringList others;
    for (const QString &old : oldCopies) {
        if (clean(old) != kept)
            others << old;
    }
    trash(others);
    Diag::log(QStringLiteral("installed to ") + destination);
}

void Installation::removeOriginal(const std::optional<QString> &download, const QString &kept, PreferenceStore &store)
{
    if (!download)
        return;
    const QString path = clean(*download);
    if (path == clean(kept) || isInApplications(path) || !QFileInfo::exists(path))
        return;
    if (Trash::moveToTrash(path)) {
        store.remove(QString::fromLatin1(kLeftoverKey));
        Diag::log(QStringLiteral("moved the downloaded copy to Trash: ") + path);
    } else {
        store.setValue(QString::fromLatin1(kLeftoverKey), path);
        Diag::log(QStringLiteral("could not trash the downloaded copy %1: the Trash refused it").arg(path));
    }
}

QString Installation::desktopEntryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/applications/video.mivra.mac.desktop");
}

QString Installation::writeDesktopEntry(const QString &bundle)
{
    const QString path = desktopEntryPath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QString icon = bundle + QStringLiteral("/share/icons/hicolor/scalable/apps/mivra.svg");
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw InstallError(QStringLiteral("The launcher entry %1 could not be written.").arg(path));
    file.write(QStringLiteral("[Desktop Entry]\nType=Application\nName=Mivra Video\nGenericName=Screen Recorder\n"
                              "Comment=Record the screen and share it as a link\nExec=%1 %U\nIcon=%2\n"
                              "Terminal=false\nCategories=AudioVideo;Video;Recorder;\n"
                              "MimeType=x-scheme-handler/mivra;\nStartupNotify=false\n")
                   .arg(desktopQuoted(bundle + QStringLiteral("/AppRun")),
                        QFileInfo::exists(icon) ? icon : QStringLiteral("mivra"))
                   .toUtf8());
    if (!file.commit())
        throw InstallError(QStringLiteral("The launcher entry %1 could not be written.").arg(path));
    // Best effort: the desktop also picks the entry up on its own. Waited
    // for, so the choice is made before this copy quits.
    if (const QString mime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime")); !mime.isEmpty()) {
        QProcess registration;
        registration.start(mime, {QStringLiteral("default"), QStringLiteral("video.mivra.mac.desktop"),
                                  QStringLiteral("x-scheme-handler/mivra")});
        registration.waitForFinished(10'000);
    }
    return path;
}
