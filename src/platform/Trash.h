#pragma once

#include <QString>

// Moves a file or folder to the freedesktop Trash. Unlike a bare
// QFile::moveToTrash, it fails when no Trash folder can be made: Qt 6.4 then
// "trashes" into files/ under the current directory and reports success.
namespace Trash {
bool moveToTrash(const QString &path);
} // namespace Trash
