#pragma once

// Pictures decoded back from a recording, and colours compared with room for
// what the encoder loses.

#include "FfprobeReport.h"

#include <QColor>
#include <QImage>
#include <gtest/gtest.h>

#include <cstdlib>

// The picture near `seconds` into the file (or URL); null when none decodes.
inline QImage decodedPicture(const QString &path, double seconds, QSize size)
{
    const QByteArray bgrx = decodeFrameBgrx(path, seconds, size.width(), size.height());
    if (bgrx.isEmpty())
        return {};
    return QImage(reinterpret_cast<const uchar *>(bgrx.constData()), size.width(), size.height(), QImage::Format_RGB32)
        .copy();
}

// Whether the pixel at `at` is within `tolerance` of `want` in each channel.
inline testing::AssertionResult near(const QImage &image, QPoint at, QColor want, int tolerance = 12)
{
    const QColor got = image.pixelColor(at);
    if (std::abs(got.red() - want.red()) <= tolerance && std::abs(got.green() - want.green()) <= tolerance &&
        std::abs(got.blue() - want.blue()) <= tolerance)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "at " << at.x() << "," << at.y() << " " << got.name().toStdString()
                                       << ", wanted " << want.name().toStdString();
}
