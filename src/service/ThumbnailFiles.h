#pragma once

#include <QString>

// Where link thumbnails are cached: "Mivra Video/Thumbnails" in the
// application-support folder, one id + ".jpg" file per link.
namespace ThumbnailFiles {
QString folder();
// Empty for an id that could name a file outside the folder.
QString pathFor(const QString &id);
// Deletes the thumbnail of `id`; failures are ignored.
void remove(const QString &id);
} // namespace ThumbnailFiles
