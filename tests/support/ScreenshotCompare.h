#pragma once

// Screenshots checked against the references in tests/ui/screenshots: the
// shot is saved beside the build for a person to look at, then compared pixel
// by pixel. Anti-aliasing scatters a few differing pixels; a moved edge or
// line makes a straight run of them, which fails however short the edge.
// MIVRA_UPDATE_SCREENSHOTS=1 writes the shot as the new reference instead.

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
    // The shortest straight run of differing pixels that fails: longer than the
    // stems of body text, shorter than a field's border.
    int run = 12;
    // Regions left out, such as a spinner that is never twice the same.
    QList<QRect> ignored;
};

// A shot of `window` once it has drawn what changed (canvases paint a frame late).
QImage settledShot(QQuickWindow &window);

// Saves `shot` as screenshots/<name>.png in the build and compares it with the reference.
testing::AssertionResult matchesReference(const QImage &shot, const QString &name, ScreenshotTolerance tolerance = {});
