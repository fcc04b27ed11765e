// The camera bubble: where it goes, when it may show, how it paints, and the
// app's real window on an X server (its place and size as the server reports
// them) and in the videos it makes.
#include "Await.h"
#include "DecodedPicture.h"
#include "MemoryPreferenceStore.h"
#include "PrivateHome.h"
#include "PrivateXServer.h"
#include "QtPrinters.h"
#include "ServerProcess.h"
#include "X11TestScene.h"
#include "XWindows.h"

#include "capture/BubbleInVideo.h"
#include "capture/CameraBubble.h"
#include "capture/CameraBubblePlacement.h"
#include "capture/CameraBubbleWindow.h"
#include "capture/CameraError.h"
#include "platform/FilePreferenceStore.h"
#include "platform/camera/CameraAccess.h"
#include "platform/camera/SyntheticCamera.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <tuple>

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
struct CameraSetup {
    CameraPermission state;
    bool allowWhenAsked, hasCamera, deviceError;
};
class FakeCameraAccess final : public CameraAccess {
public:
    FakeCameraAccess(CameraSetup setup, int &asked) : setup(setup), asked(asked) {}
    CameraPermission permission() const override { return setup.state; }
    QCoro::Task<bool> requestPermission() override
    {
        ++asked;
        setup.state = setup.allowWhenAsked ? CameraPermission::authorised : CameraPermission::refused;
        co_return setup.allowWhenAsked;
    }
    std::unique_ptr<CameraFrames> defaultCamera() override
    {
        if (setup.deviceError)
            throw MivraError(QStringLiteral("The camera is busy."));
        return setup.hasCamera ? std::make_unique<SyntheticCamera>() : nullptr;
    }
    CameraSetup setup;
    int &asked;
};

TEST(CameraBubble, PermissionAndDeviceDecideWhetherItShows)
{
    if (!QGuiApplication::primaryScreen())
        GTEST_SKIP() << "no display";
    const QString denied = CameraError::text(CameraError::Kind::denied);
    using enum CameraPermission;
    const struct {
        const char *name;
        CameraSetup setup;
        QString error;
        int asked;
    } cases[] = {
        {"undecided, allowed", {undecided, true, true, false}, {}, 1},
        {"undecided, refused", {undecided, false, true, false}, denied, 1},
        {"refused earlier", {refused, true, true, false}, denied, 0},
        {"no camera", {authorised, true, false, false}, QStringLiteral("No camera found."), 0},
        {"device error", {authorised, true, true, true}, QStringLiteral("The camera is busy."), 0},
    };
    for (const auto &c : cases) {
        int asked = 0;
        CameraBubble bubble(std::make_unique<FakeCameraAccess>(c.setup, asked),
                            std::make_shared<MemoryPreferenceStore>());
        const QString error = failureText(bubble.show(QGuiApplication::primaryScreen()));
        // A window only when shown.
        EXPECT_EQ(std::tuple(error, asked, bubble.panel() != nullptr), std::tuple(c.error, c.asked, c.error.isEmpty()))
            << c.name;
    }
}

TEST(CameraBubbleWindow, PaintsThePictureInARimmedCircleWithASoftShadow)
{
    if (!QGuiApplication::primaryScreen())
        GTEST_SKIP() << "no display";
    CameraBubbleWindow window(220);
    QImage camera(320, 180, QImage::Format_RGB32);
    camera.fill(Qt::red);
    window.setPreview(CameraBubbleWindow::filled(camera, 208));
    QImage shot(220, 220, QImage::Format_ARGB32_Premultiplied);
    shot.fill(Qt::transparent);
    window.render(&shot, {}, {}, QWidget::DrawChildren);

    const auto alpha = [&shot](int x, int y) { return shot.pixelColor(x, y).alpha(); };
    // Corners clear, the picture opaque, a half-white rim over its edge.
    EXPECT_EQ(std::tuple(alpha(3, 3), alpha(110, 110), shot.pixelColor(110, 5).blue() > 100), std::tuple(0, 255, true));
    // Below the circle the shadow fades out, deeper just under it.
    const int under = alpha(110, 214);
    EXPECT_TRUE(under > alpha(110, 218) && under > 10 && under < 120) << under << " then " << alpha(110, 218);
}

// `mivra record --camera` on an X server of its own, uploading to the real
// server: the bubble opens centred under the top edge, follows a real drag
// and the next recording opens it where it was left. Drawn in a corner of the
// video, the window stays out of it; recorded as on screen, it is in it.
class BubbleWindowOfTheApp : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!QFile::exists(appBinary()) || !ServerProcess::built())
            GTEST_SKIP() << "the app or mivra-server is not built in this tree";
        ASSERT_TRUE(display.ok());
        ASSERT_TRUE(server.started());
        home.env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display.display()));
        home.env.insert(QStringLiteral("MIVRA_CAMERA"), QStringLiteral("test"));
        home.env.insert(QStringLiteral("MIVRA_SERVICE_ORIGIN"), QString::fromStdString(server.origin()));
        desktop.addWindow(QRect(0, 0, 1920, 1080), kDesktop.rgb());
    }
    // Starts a recording and returns its bubble window once it shows.
    quint64 record(QProcess &app, const QString &spot)
    {
        const int recordings = home.log().count(QStringLiteral("phase recording"));
        app.setProcessEnvironment(home.env);
        app.start(appBinary(), QString("record --silent --camera --no-mic --bubble-spot").split(' ') << spot);
        // The first recording measures the encoder before it starts.
        quint64 bubble = 0;
        waitUntil([&] { return home.log().count(QStringLiteral("phase recording")) > recordings; }, 60000);
        waitUntil([&] { return (bubble = visibleWindowNamed(QStringLiteral("Mivra Video Camera"))) != 0; });
        if (!bubble)
            ADD_FAILURE() << app.errorString().toStdString() << "\n"
                          << app.readAllStandardError().constData() << home.log().toStdString();
        return bubble;
    }
    // Done, as Ctrl-C says it: the link is made and printed (copied, not
    // opened). Returns the last picture of the recording on the service.
    QImage finish(QProcess &app)
    {
        // Two fragments a second apart: the camera's pictures, which start a
        // moment after the screen's, are in the video by then.
        const QDir folder(home.recordingsFolder());
        EXPECT_TRUE(waitUntil([&] {
            const QStringList newest = folder.entryList({QStringLiteral("*.mp4")}, QDir::Files, QDir::Time);
            return !newest.isEmpty() && boxTypes(topLevelBoxes(folder.filePath(newest.first()))).count("moof") >= 2;
        }, 30000)) << "the recording never reached its second fragment";
        ::kill(pid_t(app.processId()), SIGINT);
        EXPECT_TRUE(app.waitForFinished(60000) && app.exitStatus() == QProcess::NormalExit && app.exitCode() == 0)
            << app.readAllStandardError().constData();
        const QString link = QString::fromUtf8(app.readAllStandardOutput()).trimmed();
        EXPECT_TRUE(link.startsWith(QString::fromStdString(server.origin()))) << link.toStdString();
        const QString media =
            QString::fromStdString(server.origin()) + QStringLiteral("/r/") + link.section(QLatin1Char('/'), -1);
        return decodedPicture(media, std::max(0.0, ffprobe(media).durationSeconds() - 0.2), QSize(1920, 1080));
    }

    static inline const QColor kDesktop{0x4070a0};
    PrivateXServer display{QSize(1920, 1080)};
    X11TestScene desktop; // to tell the window's corners from
    PrivateHome home;
    ServerProcess server{home.path(QStringLiteral("server")).toStdString(), {"--quiet"}};
};

TEST_F(BubbleWindowOfTheApp, OpensCentredFollowsADragReopensThereAndIsInTheVideoOnlyAsOnScreen)
{
    const QPoint centred(960 - 110, 8);
    const QPoint moved = centred + QPoint(-300, 200);
    QImage inCorner;
    {
        QProcess app;
        const quint64 bubble = record(app, QStringLiteral("bottomRight"));
        ASSERT_NE(bubble, 0u);
        EXPECT_EQ(serverGeometry(bubble), QRect(centred, QSize(220, 220)));
        QByteArray props;
        EXPECT_TRUE(waitUntil([&] {
            QProcess xprop;
            xprop.start("xprop", {"-id", QString::number(bubble)});
            xprop.waitForFinished(10000);
            props = xprop.readAllStandardOutput();
            return props.contains("_NET_WM_DESKTOP(CARDINAL) = 4294967295") && props.contains("_NET_WM_STATE_STICKY");
        })) << props.constData();

        const QPoint grab = centred + QPoint(110, 60);
        dragWithPointer(grab, grab + moved - centred);
        ASSERT_TRUE(waitUntil([&] { return serverGeometry(bubble).topLeft() == moved; }));
        // Saved with the lower left corner, y upward.
        ASSERT_TRUE(waitUntil([&] {
            return FilePreferenceStore(home.preferencesPath()).numbersValue(kOriginKey) ==
                   QList<double>{550, 1080 - 208 - 220};
        }));
        inCorner = finish(app);
    }
    QProcess app;
    const quint64 bubble = record(app, QStringLiteral("asOnScreen"));
    ASSERT_NE(bubble, 0u);
    EXPECT_EQ(serverGeometry(bubble).topLeft(), moved);
    const QImage asOnScreen = finish(app);

    // The window's left (green) and right (red) halves where it was, its
    // corner (round: the desktop shows), in the bottom right corner
    // (1676-1895, 836-1055), and the desktop elsewhere.
    const auto seen = [&](const QImage &video) {
        QStringList names;
        for (const QPoint at : {moved + QPoint(60, 150), moved + QPoint(160, 150), moved + QPoint(4, 4),
                                QPoint(1746, 966), QPoint(1826, 966), QPoint(400, 600)})
            names << (near(video, at, Qt::green, 40)  ? "green"
                      : near(video, at, Qt::red, 40)  ? "red"
                      : near(video, at, kDesktop, 40) ? "desktop"
                                                      : "other");
        return names.join(' ').toStdString();
    };
    EXPECT_EQ(seen(inCorner), "desktop desktop desktop green red desktop");
    EXPECT_EQ(seen(asOnScreen), "green red desktop desktop desktop desktop");
}

} // namespace
