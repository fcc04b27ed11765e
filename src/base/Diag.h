#pragma once

#include <QString>

// The diagnostic log: one time-stamped line per notable event, appended to
// Mivra.log in the user's log folder. Safe from any thread; never fails
// toward the caller.
namespace Diag {
void log(const QString &message);
// The log file's path, decided once on first use.
QString path();
} // namespace Diag
