#pragma once

#include "ui/TrayMenuModel.h"

#include <QIcon>

// The tray glyphs, drawn here so no icon theme is needed: the app's mark,
// a dotted circle while starting or finishing, an upward arrow in a circle
// while uploading.
namespace TrayIcons {
QIcon icon(TrayLabel::Icon which);
} // namespace TrayIcons
