#pragma once

#include "capture/VideoSize.h"

#include <QString>

// The slowest (best-looking) x264 preset that still encodes pictures of this
// size at 30 per second with room to spare on this machine, measured once per
// size and remembered. Blocks for up to about a second the first time.
QString choosePresetFor(PixelSize size);

// Pictures per second the preset reaches at this size on this machine.
double measureEncoderSpeed(PixelSize size, const QString &preset);
