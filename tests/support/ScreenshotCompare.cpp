#include "ScreenshotCompare.h"

#include "Await.h"

#include <QDir>
#include <QFileInfo>
#include <QQuickWindow>

#include <algorithm>
#include <cstdlib>
#include <vector>

QImage settledShot(QQuickWindow &window)
{
    int frames = 0;
    const auto counter = QObject::connect(
        &window, &QQuickWindow::afterRendering, &window, [&frames] { ++frames; }, Qt::DirectConnection);
    waitUntil([&] {
        window.update();
        return frames >= 3;
    });
    QObject::disconnect(counter);
    return window.grabWindow();
}

testing::AssertionResult matchesReference(const QImage &shot, const QString &name, ScreenshotTolerance tolerance)
{
    const QString file = name + QStringLiteral(".png");
    const QString built = QStringLiteral(MIVRA_BINARY_DIR "/screenshots");
    QDir().mkpath(built);
    shot.save(built + QLatin1Char('/') + file);
    const QString referencePath =
        QFileInfo(QString::fromUtf8(__FILE__)).dir().filePath(QStringLiteral("../ui/screenshots/") + file);
    if (qEnvironmentVariable("MIVRA_UPDATE_SCREENSHOTS") == QLatin1String("1")) {
        if (!shot.save(referencePath))
            return testing::AssertionFailure() << "could not write " << referencePath.toStdString();
        return testing::AssertionSuccess();
    }
    // No reference reads as 0x0.
    const QImage want = QImage(referencePath).convertToFormat(QImage::Format_ARGB32);
    const QImage got = shot.convertToFormat(QImage::Format_ARGB32);
    if (got.size() != want.size())
        return testing::AssertionFailure()
               << file.toStdString() << " is " << got.width() << "x" << got.height() << ", the reference "
               << want.width() << "x" << want.height() << " (MIVRA_UPDATE_SCREENSHOTS=1 writes it)";
    qint64 different = 0;
    int longest = 0;
    std::vector<int> down(got.width()); // differing pixels straight above, by column
    for (int y = 0; y < got.height(); ++y) {
        const auto *a = reinterpret_cast<const QRgb *>(got.constScanLine(y));
        const auto *b = reinterpret_cast<const QRgb *>(want.constScanLine(y));
        int across = 0;
        for (int x = 0; x < got.width(); ++x) {
            const int off = std::max({std::abs(qRed(a[x]) - qRed(b[x])), std::abs(qGreen(a[x]) - qGreen(b[x])),
                                      std::abs(qBlue(a[x]) - qBlue(b[x])), std::abs(qAlpha(a[x]) - qAlpha(b[x]))});
            const bool differs =
                off > tolerance.channel && std::none_of(tolerance.ignored.begin(), tolerance.ignored.end(),
                                                        [&](const QRect &rect) { return rect.contains(x, y); });
            across = differs ? across + 1 : 0;
            down[x] = differs ? down[x] + 1 : 0;
            longest = std::max({longest, across, down[x]});
            different += differs;
        }
    }
    const double share = double(different) / double(got.width() * got.height());
    if (share > tolerance.pixels || longest >= tolerance.run)
        return testing::AssertionFailure()
               << file.toStdString() << ": " << different << " pixels (" << share * 100
               << "%) differ from the reference, " << longest << " in a line; see " << built.toStdString();
    return testing::AssertionSuccess();
}
