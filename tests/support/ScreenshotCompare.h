#pragma once

// Screenshots checked against references committed with the tests: the shot
// is saved beside the build for a person to look at, then compared pixel by
// pixel with a little room for anti-aliasing. MIVRA_UPDATE_SCREENSHOTS=1
// writes the shot as the new reference instead.

#include <QImage>
#include <QList>
#include <QRect>
#include <QString>
#include <gtest/gtest.h>

class QQuickWindow;

struct ScreenshotTolerance {
    // How far one colour channel may stray before a pixel counts as different.
    int channel = 40;
    // The share of pixels that may differ (edges of text and curves).
    double pixels = 0.003;
    // Regions left out, such as a spinner that is never twice the same.
    QList<QRect> ignored;
};

// A shot of `window` once it has drawn what changed (canvases paint a frame late).
QImage settledShot(QQuickWindow &window);

// Saves `shot` as screenshots/<name>.png in the build and compares it with
// <referenceFolder>/<name>.png.
testing::AssertionResult matchesReference(const QImage &shot, const QString &referenceFolder, const QString &name,
                                          ScreenshotTolerance tolerance = {});
