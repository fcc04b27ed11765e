// `mivra record --camera` under Xvfb against the real server: the recording
// bar stands under the bubble, follows a real drag, ends the recording with
// its Done button, and is in the video only when MIVRA_CAPTURABLE_CONTROLS=1.
#include "Await.h"
#include "FfprobeReport.h"
#include "RoadRig.h"
#include "XWindows.h"

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

namespace {

// Done's capsule and the recording dot.
bool live(QRgb pixel)
{
    return std::abs(qRed(pixel) - 255) + std::abs(qGreen(pixel) - 77) + std::abs(qBlue(pixel) - 109) < 60;
}

int livePixels(const QImage &image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += live(image.pixel(x, y));
    return count;
}

// The middle of the longest live-coloured run of a row: the Done button, the
// widest thing of that colour on the bar.
QPoint doneButton(const QImage &bar)
{
    QPoint best;
    int longest = 0;
    for (int y = 0; y < bar.height(); ++y) {
        for (int x = 0, run = 0; x < bar.width(); ++x) {
            run = live(bar.pixel(x, y)) ? run + 1 : 0;
            if (run > longest) {
                longest = run;
                best = QPoint(x - run / 2, y);
            }
        }
    }
    return longest > 20 ? best : QPoint();
}

// Centred on the bubble, 10 under it, as tall as the bar with its hint.
QRect underBubble(const QRect &bubble)
{
    return {bubble.x() + bubble.width() / 2 - 150, bubble.y() + bubble.height() + 10, 300, 124};
}

class RecordingBarRoad : public RoadRig {
protected:
    // Starts the recording and returns the bar's and the bubble's windows once
    // the bar stands under the bubble.
    std::pair<quint64, quint64> record(const QString &seconds)
    {
        home.env.insert(QStringLiteral("MIVRA_CAMERA"), QStringLiteral("test"));
        home.env.insert(QStringLiteral("QT_QUICK_BACKEND"), QStringLiteral("software"));
        QByteArray err;
        EXPECT_TRUE(startRecording(m_record, {"--camera", "--no-mic", "--silent", "--seconds", seconds}, err))
            << err.toStdString();
        quint64 bar = 0, bubble = 0;
        waitUntil([&] {
            bar = visibleWindowNamed(QStringLiteral("Mivra Video Recording Controls"));
            bubble = visibleWindowNamed(QStringLiteral("Mivra Video Camera"));
            return bar && bubble && serverGeometry(bar) == underBubble(serverGeometry(bubble));
        });
        return {bar, bubble};
    }
    // The length of the video behind the link at the end of `out`, and what
    // it shows of the screen's `area` half a second before its end.
    std::pair<double, QImage> served(const QString &out, const QRect &area)
    {
        const QString path = fetch(out.section(QLatin1Char('/'), -1));
        const FfprobeReport report = ffprobe(path);
        const int width = report.video.value(QStringLiteral("width")).toInt();
        const int height = report.video.value(QStringLiteral("height")).toInt();
        const QByteArray pixels = decodeFrameBgrx(path, report.durationSeconds() - 0.5, width, height);
        if (width == 0 || pixels.size() != width * height * 4)
            return {};
        const QImage picture(reinterpret_cast<const uchar *>(pixels.constData()), width, height, QImage::Format_RGB32);
        return {report.durationSeconds(), picture.scaled(QGuiApplication::primaryScreen()->size()).copy(area)};
    }

    QProcess m_record;
};

TEST_F(RecordingBarRoad, StandsUnderTheBubbleFollowsItsDragAndDoneMakesTheLink)
{
    const auto [bar, bubble] = record(QStringLiteral("60"));
    ASSERT_TRUE(bar && bubble);
    const QRect shown = serverGeometry(bubble);
    EXPECT_EQ(serverGeometry(bar), underBubble(shown));

    const QPoint by(-500, 400);
    dragWithPointer(shown.center(), shown.center() + by);
    ASSERT_TRUE(waitUntil([&] { return serverGeometry(bubble).topLeft() == shown.topLeft() + by; }));
    ASSERT_TRUE(waitUntil([&] { return serverGeometry(bar) == underBubble(shown.translated(by)); }))
        << "the bar is at " << serverGeometry(bar).x() << "," << serverGeometry(bar).y();

    // Dragged by a point its controls leave free, the bar goes along.
    const QPoint free = serverGeometry(bar).topLeft() + QPoint(12, 24);
    dragWithPointer(free, free + QPoint(0, 100));
    ASSERT_TRUE(waitUntil([&] { return serverGeometry(bar) == underBubble(shown.translated(by)).translated(0, 100); }));
    const QRect barArea = serverGeometry(bar);
    QScreen *screen = QGuiApplication::primaryScreen();
    screen->grabWindow(0, barArea.x() - 40, barArea.y() - 240, 380, 380)
        .save(QStringLiteral(MIVRA_BINARY_DIR "/recording-bar-road.png"));
    const QPoint done = doneButton(screen->grabWindow(0, barArea.x(), barArea.y(), 300, 124).toImage());
    ASSERT_FALSE(done.isNull()) << "see recording-bar-road.png";
    xdotool({QStringLiteral("mousemove"), QString::number(barArea.x() + done.x()),
             QString::number(barArea.y() + done.y()), QStringLiteral("click"), QStringLiteral("1")});

    QByteArray err;
    const QString out = ended(m_record, err);
    ASSERT_TRUE(out.startsWith("exit 0:" + origin)) << out.toStdString() << err.toStdString();
    const auto [seconds, there] = served(out, barArea);
    EXPECT_LT(seconds, 30) << "Done ended it, not the 60 seconds";
    ASSERT_FALSE(there.isNull());
    EXPECT_LT(livePixels(there), 30) << "the bar is left out of the video";
}

TEST_F(RecordingBarRoad, IsInTheVideoWhenControlsAreCapturable)
{
    home.env.insert(QStringLiteral("MIVRA_CAPTURABLE_CONTROLS"), QStringLiteral("1"));
    const quint64 bar = record(QStringLiteral("3")).first;
    ASSERT_NE(bar, 0u);
    const QRect barArea = serverGeometry(bar);
    QByteArray err;
    const QString out = ended(m_record, err);
    ASSERT_TRUE(out.startsWith("exit 0:" + origin)) << out.toStdString() << err.toStdString();
    const QImage there = served(out, barArea).second;
    there.save(QStringLiteral(MIVRA_BINARY_DIR "/recording-bar-in-video.png"));
    EXPECT_GT(livePixels(there), 500) << "see recording-bar-in-video.png";
}

} // namespace
