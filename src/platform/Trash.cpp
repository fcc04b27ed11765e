#include "platform/Trash.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
// <Trash>/files/<name>, where <Trash> is the home Trash, $topdir/.Trash-UID
// or $topdir/.Trash/UID.
bool insideATrash(const QString &trashed)
{
    QDir files = QFileInfo(trashed).absoluteDir();
    if (files.dirName() != QLatin1String("files") || !files.cdUp())
        return false;
    const QString trash = files.dirName();
    if (trash == QLatin1String("Trash") || trash.startsWith(QLatin1String(".Trash-")))
        return true;
    return files.cdUp() && files.dirName() == QLatin1String(".Trash");
}
} // namespace

bool Trash::moveToTrash(const QString &path)
{
    QString trashed;
    if (!QFile::moveToTrash(path, &trashed))
        return false;
    if (insideATrash(trashed))
        return true;
    // Put it back and drop the stray note Qt wrote beside it.
    const QFileInfo moved(trashed);
    QFile::remove(moved.absoluteDir().absoluteFilePath(QStringLiteral("../info/") + moved.fileName() +
                                                       QStringLiteral(".trashinfo")));
    QDir().rename(trashed, path);
    // And the folders it made there, if they hold nothing else.
    QDir().rmdir(moved.absoluteDir().absoluteFilePath(QStringLiteral("../info")));
    QDir().rmdir(moved.absolutePath());
    return false;
}
