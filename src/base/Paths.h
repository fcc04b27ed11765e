#pragma once

#include <QString>

// Where the program keeps its files on a freedesktop system. Every location
// follows the XDG variables, which is also how tests move them elsewhere.
namespace Paths {
// $XDG_STATE_HOME/Mivra Video/Logs (the state folder stands in for a Library folder).
QString logFolder();
// $XDG_CONFIG_HOME/Mivra Video
QString configFolder();
// $XDG_DATA_HOME/Mivra Video
QString applicationSupportFolder();
// The user's Videos folder + "/Mivra".
QString recordingsFolder();
} // namespace Paths
