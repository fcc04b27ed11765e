#pragma once

#include <QString>

// While the app records or uploads it keeps a small file in the user's
// runtime folder, so that `mivra update` run beside it can refuse to replace
// the program under a recording. A marker left by a crash does not count:
// it only matters while an app answers on the single-instance socket.
namespace BusyMarker {
QString path();
void set(bool busy);
bool runningAppIsBusy();
} // namespace BusyMarker
