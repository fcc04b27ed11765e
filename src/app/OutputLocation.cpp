#include "app/OutputLocation.h"

#include <QDir>
#include <QFileInfo>

namespace OutputLocation {

QString fileName(const QDateTime &localTime)
{
    return QStringLiteral("Mivra ") + localTime.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH.mm.ss")) +
           QStringLiteral(".mp4");
}

QString make(const QString &folder, const QDateTime &localTime)
{
    // mkpath reports success for an existing plain file, so check it is a folder.
    if (!QDir().mkpath(folder) || !QFileInfo(folder).isDir())
        throw OutputLocationError(
            QStringLiteral("Could not create the folder for recordings at %1.").arg(QDir::toNativeSeparators(folder)));
    return QDir(folder).filePath(fileName(localTime));
}

} // namespace OutputLocation
