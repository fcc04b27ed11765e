#include "main/Substitutes.h"

#include "service/ThumbnailFiles.h"

void ThumbnailFilesOnly::remove(const QString &id)
{
    ThumbnailFiles::remove(id);
}
