#include "service/ThumbnailFiles.h"

#include "base/Paths.h"

#include <QFile>

namespace ThumbnailFiles {

QString folder()
{
    return Paths::applicationSupportFolder() + QStringLiteral("/Thumbnails");
}

QString pathFor(const QString &id)
{
    // Ids come from the service: never let one reach outside the folder.
    if (id.isEmpty() || id.contains(QLatin1Char('/')) || id.contains(QLatin1Char('\0')) || id == QLatin1String(".") ||
        id == QLatin1String(".."))
        return QString();
    return folder() + QLatin1Char('/') + id + QStringLiteral(".jpg");
}

void remove(const QString &id)
{
    const QString path = pathFor(id);
    if (!path.isEmpty())
        QFile::remove(path);
}

} // namespace ThumbnailFiles
