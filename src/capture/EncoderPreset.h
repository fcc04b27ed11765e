#pragma once

#include "capture/VideoSize.h"

#include <QString>
#include <QStringList>

#include <functional>

// The slowest (best-looking) x264 preset that still encodes pictures of this
// size at 30 per second with room to spare on this machine, measured once per
// size and remembered. Blocks for up to about a second the first time.
QString choosePresetFor(PixelSize size);

// Pictures per second the preset reaches at this size on this machine.
double measureEncoderSpeed(PixelSize size, const QString &preset);

// The first x264 preset, slowest first, whose speed (pictures per second, as
// `picturesPerSecond` measures it) leaves room for 30 a second; else the
// fastest. Each speed measured goes into `measured`.
QString pickPreset(const std::function<double(const QString &)> &picturesPerSecond, QStringList *measured = nullptr);
