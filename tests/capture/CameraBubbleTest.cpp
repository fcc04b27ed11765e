// The camera bubble: where it goes, when it may show, and the real window on
// the X server (its place and size as the server reports them).
#include "Await.h"
#include "MemoryPreferenceStore.h"

#include "capture/BubbleInVideo.h"
#include "capture/CameraBubble.h"
#include "capture/CameraBubblePlacement.h"
#include "capture/CameraBubbleWindow.h"
#include "capture/CameraError.h"
#include "platform/camera/CameraAccess.h"
#include "platform/camera/SyntheticCamera.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

namespace {

using namespace BubblePlacement;

TEST(CameraBubblePlacement, SavedOriginOnlyWhenTwoNumbersInsideTheAvailableArea)
{
    const QRect primary(0, 0, 1920, 1080);
    const QRect available(0, 32, 1920, 1000); // a 32-pixel panel on top, 48 below
    const QPoint centred(850, 40);
    struct Case {
        const char *name;
        std::optional<PrefValue> saved;
        QPoint expected;
    } cases[] = {
        {"nothing saved", std::nullopt, centred},
        {"inside", PrefValue(QList<double>{100, 300}), QPoint(100, 1080 - 300 - 220)},
        {"three numbers", PrefValue(QList<double>{100, 300, 5}), centred},
        {"not numbers", PrefValue(QStringLiteral("100,300")), centred},
        {"partly off the right", PrefValue(QList<double>{1800, 300}), centred},
        {"over the bottom panel", PrefValue(QList<double>{100, 20}), centred},
        {"not finite", PrefValue(QList<double>{qInf(), 300}), centred},
    };
    for (const Case &c : cases)
        EXPECT_EQ(topLeft(c.saved, primary, available, primary), c.expected) << c.name;
    // A second screen left of the primary one, lower down: the bubble centres on it.
    const QRect left(-1280, 200, 1280, 1024);
    EXPECT_EQ(topLeft(std::nullopt, left, left, primary), QPoint(-750, 208));
    for (const QPoint place : {QPoint(100, 500), QPoint(-1000, 900)})
        EXPECT_EQ(desktopTopLeft(storedOrigin(place, primary), primary), place);
    EXPECT_EQ(storedOrigin(QPoint(0, 1080 - 220), primary), (QList<double>{0, 0}));
}

TEST(CameraBubblePlacement, DrawnInTheVideoOnlyWhereCapturesLeaveTheWindowOut)
{
    using Spot = std::optional<BubbleSpot>;
    const struct {
        bool camera;
        BubbleSpot chosen;
        bool leftOut;
        Spot drawn;
    } cases[] = {
        {true, BubbleSpot::topRight, true, BubbleSpot::topRight},
        {true, BubbleSpot::asOnScreen, true, std::nullopt},
        {false, BubbleSpot::bottomLeft, true, std::nullopt},
        // Wayland: the window is in every picture, so a corner would show it twice.
        {true, BubbleSpot::bottomRight, false, std::nullopt},
        {true, BubbleSpot::asOnScreen, false, std::nullopt},
    };
    for (const auto &c : cases)
        EXPECT_EQ(bubbleDrawnInVideo(c.camera, c.chosen, c.leftOut), c.drawn)
            << rawValue(c.chosen).toStdString() << " camera " << c.camera << " left out " << c.leftOut;
}

// Permission and camera as a test arranges them.
class FakeCameraAccess final : public CameraAccess {
public:
    CameraPermission permission() const override { return state; }
    QCoro::Task<bool> requestPermission() override
    {
        ++asked;
        state = allowWhenAsked ? CameraPermission::authorised : CameraPermission::refused;
        co_return allowWhenAsked;
    }
    std::unique_ptr<CameraFrames> defaultCamera() override
    {
        if (deviceError)
            throw MivraError(QStringLiteral("The camera is busy."));
        return hasCamera ? std::make_unique<SyntheticCamera>() : nullptr;
    }
    CameraPermission state = CameraPermission::authorised;
    bool allowWhenAsked = true;
    bool hasCamera = true;
    bool deviceError = false;
    int asked = 0;
};

QString showError(CameraBubble &bubble)
{
    try {
        run(bubble.show(QGuiApplication::primaryScreen()));
    } catch (const std::exception &error) {
        return errorDescription(error);
    }
    return {};
}

TEST(CameraBubble, PermissionAndDeviceDecideWhetherItShows)
{
    if (!QGuiApplication::primaryScreen())
        GTEST_SKIP() << "no display";
    const QString denied = CameraError::text(CameraError::Kind::denied);
    struct Case {
        const char *name;
        CameraPermission state;
        bool allow, camera, deviceError;
        QString error;
        int asked;
    } cases[] = {
        {"undecided, allowed", CameraPermission::undecided, true, true, false, {}, 1},
        {"undecided, refused", CameraPermission::undecided, false, true, false, denied, 1},
        {"refused earlier", CameraPermission::refused, true, true, false, denied, 0},
        {"restricted", CameraPermission::restricted, true, true, false, denied, 0},
        {"no camera", CameraPermission::authorised, true, false, false, QStringLiteral("No camera found."), 0},
        {"device error", CameraPermission::authorised, true, true, true, QStringLiteral("The camera is busy."), 0},
    };
    for (const Case &c : cases) {
        auto access = std::make_unique<FakeCameraAccess>();
        access->state = c.state;
        access->allowWhenAsked = c.allow;
        access->hasCamera = c.camera;
        access->deviceError = c.deviceError;
        FakeCameraAccess *fake = access.get();
        CameraBubble bubble(std::move(access), std::make_shared<MemoryPreferenceStore>());
        EXPECT_EQ(showError(bubble), c.error) << c.name;
        EXPECT_EQ(fake->asked, c.asked) << c.name;
        EXPECT_EQ(bubble.panel() != nullptr, c.error.isEmpty()) << c.name << ": a window only when shown";
    }
    EXPECT_TRUE(denied.contains(QLatin1String("Settings > Privacy > Camera")));
}

TEST(CameraBubbleWindow, PaintsTheMirroredPictureInARimmedCircleWithASoftShadow)
{
    if (!QGuiApplication::primaryScreen())
        GTEST_SKIP() << "no display";
    CameraBubbleWindow window(220);
    QImage camera(320, 180, QImage::Format_RGB32); // wider than tall: cropped to its middle
    camera.fill(Qt::red);
    QPainter(&camera).fillRect(0, 0, 160, 180, Qt::green);
    window.setPreview(CameraBubbleWindow::filled(camera, 208));
    QImage shot(220, 220, QImage::Format_ARGB32_Premultiplied);
    shot.fill(Qt::transparent);
    window.render(&shot, {}, {}, QWidget::DrawChildren);
    QImage look(220, 220, QImage::Format_RGB32);
    look.fill(QColor(210, 210, 210));
    QPainter(&look).drawImage(0, 0, shot);
    look.save(QStringLiteral(MIVRA_BINARY_DIR "/camera-bubble-window.png"));

    const auto alpha = [&shot](int x, int y) { return shot.pixelColor(x, y).alpha(); };
    EXPECT_EQ(alpha(3, 3), 0) << "corners stay clear";
    EXPECT_EQ(alpha(110, 110), 255);
    // Mirrored: the camera's green left half shows on the right.
    EXPECT_GT(shot.pixelColor(160, 110).green(), 200);
    EXPECT_GT(shot.pixelColor(60, 110).red(), 200);
    // A half-white rim over the picture's edge.
    EXPECT_GT(shot.pixelColor(110, 5).blue(), 100);
    // Below the circle the shadow fades out, deeper just under it.
    EXPECT_GT(alpha(110, 214), alpha(110, 218));
    EXPECT_GT(alpha(110, 214), 10);
    EXPECT_LT(alpha(110, 214), 120);
}

// The window's place and size as the X server has them.
QRect serverGeometry(WId window)
{
    QProcess info;
    info.start(QStringLiteral("xwininfo"), {QStringLiteral("-id"), QString::number(window)});
    if (!info.waitForFinished(10000))
        return {};
    const QString out = QString::fromUtf8(info.readAllStandardOutput());
    const auto number = [&out](const char *label) {
        const QRegularExpression line(QString::fromLatin1(label) + QStringLiteral(":\\s+(-?\\d+)"));
        return line.match(out).captured(1).toInt();
    };
    return {number("Absolute upper-left X"), number("Absolute upper-left Y"), number("Width"), number("Height")};
}

bool viewable(WId window)
{
    QProcess info;
    info.start(QStringLiteral("xwininfo"), {QStringLiteral("-id"), QString::number(window)});
    return info.waitForFinished(10000) && info.readAllStandardOutput().contains("IsViewable");
}

void dragBy(QWindow *window, QPoint by)
{
    QWidget *widget = QWidget::find(window->winId());
    const QPoint grab(110, 60);
    const QPoint start = window->position() + grab;
    QMouseEvent press(QEvent::MouseButtonPress, grab, grab, start, Qt::LeftButton, Qt::LeftButton, {});
    QCoreApplication::sendEvent(widget, &press);
    QMouseEvent move(QEvent::MouseMove, grab + by, grab + by, start + by, Qt::NoButton, Qt::LeftButton, {});
    QCoreApplication::sendEvent(widget, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, grab + by, grab + by, start + by, Qt::LeftButton, {}, {});
    QCoreApplication::sendEvent(widget, &release);
}

TEST(CameraBubble, WindowOpensCentredMovesWhenDraggedAndReopensThere)
{
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen || QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X display";
    auto store = std::make_shared<MemoryPreferenceStore>();
    const QRect area = screen->availableGeometry();
    const QPoint centred(screen->geometry().center().x() + 1 - 110, area.y() + 8);
    QPoint moved;
    {
        CameraBubble bubble(std::make_unique<FakeCameraAccess>(), store);
        ASSERT_EQ(showError(bubble), QString());
        QWindow *panel = bubble.panel();
        ASSERT_TRUE(panel);
        ASSERT_TRUE(waitUntil([&] { return viewable(panel->winId()); }));
        EXPECT_EQ(serverGeometry(panel->winId()), QRect(centred, QSize(220, 220)));
        QProcess hints;
        hints.start(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(panel->winId())});
        ASSERT_TRUE(hints.waitForFinished(10000));
        const QByteArray props = hints.readAllStandardOutput();
        EXPECT_TRUE(props.contains("_NET_WM_DESKTOP(CARDINAL) = 4294967295")) << props.constData();
        EXPECT_TRUE(props.contains("_NET_WM_STATE_STICKY")) << props.constData();
        EXPECT_TRUE(panel->flags().testFlags(Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus | Qt::Tool));
        // The preview arrives from the camera's thread and is painted.
        const QImage shot =
            (waitUntil([&] { return !screen->grabWindow(0).toImage().pixelColor(centred + QPoint(60, 110)).black(); }),
             screen->grabWindow(0).toImage());
        shot.save(QStringLiteral(MIVRA_BINARY_DIR "/camera-bubble.png"));
        // Mirrored: the camera's green right half shows on the left.
        EXPECT_GT(shot.pixelColor(centred + QPoint(60, 150)).green(), 200);
        EXPECT_GT(shot.pixelColor(centred + QPoint(160, 150)).red(), 200);

        dragBy(panel, QPoint(-300, 200));
        moved = centred + QPoint(-300, 200);
        ASSERT_TRUE(waitUntil([&] { return serverGeometry(panel->winId()).topLeft() == moved; }));
        ASSERT_TRUE(store->numbersValue(kOriginKey).has_value());
        bubble.hide();
        ASSERT_TRUE(waitUntil([&] { return !viewable(panel->winId()); }));
        ASSERT_EQ(showError(bubble), QString());
        ASSERT_TRUE(waitUntil([&] { return viewable(panel->winId()); }));
        EXPECT_EQ(serverGeometry(panel->winId()).topLeft(), moved) << "shown again where it was left";
    }
    CameraBubble later(std::make_unique<FakeCameraAccess>(), store);
    ASSERT_EQ(showError(later), QString());
    ASSERT_TRUE(waitUntil([&] { return viewable(later.panel()->winId()); }));
    EXPECT_EQ(serverGeometry(later.panel()->winId()), QRect(moved, QSize(220, 220)));
}

} // namespace
