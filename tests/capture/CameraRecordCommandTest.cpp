// `mivra record --camera` with the synthetic camera, on an X server of its
// own: the file it leaves has the bubble in the corner asked for, moving.
#include "DecodedPicture.h"
#include "PrivateHome.h"
#include "PrivateXServer.h"

#include <QFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

namespace {

TEST(CameraRecordCommand, BubbleInTheChosenCornerMovesWithTheCamera)
{
    if (!QFile::exists(appBinary()))
        GTEST_SKIP() << "the app is not built in this tree";
    PrivateXServer server(QSize(1920, 1080));
    ASSERT_TRUE(server.ok());
    PrivateHome home;
    home.env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(server.display()));
    home.env.insert(QStringLiteral("MIVRA_CAMERA"), QStringLiteral("test"));
    const QString path = home.path(QStringLiteral("camera.mp4"));
    const ChildRun run = runApp({QStringLiteral("record"), QStringLiteral("--camera"), QStringLiteral("--bubble-spot"),
                                 QStringLiteral("topLeft"), QStringLiteral("--seconds"), QStringLiteral("3"),
                                 QStringLiteral("--no-mic"), QStringLiteral("--output"), path},
                                home.env, 60000);
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_FALSE(QFile::exists(home.preferencesPath())) << "for this run only";

    // topLeft at 1920x1080: the square spans x and y 24-243, its centre at 134.
    int fewestWhite = INT_MAX;
    int mostWhite = 0;
    for (double t = 0.1; t < 2.6; t += 0.25) {
        const QImage frame = decodedPicture(path, t, QSize(1920, 1080));
        ASSERT_FALSE(frame.isNull()) << t;
        // The camera's picture fills the chosen corner (how it is mirrored
        // and rimmed is the compositor's test).
        EXPECT_GT(frame.pixelColor(94, 174).green(), 200) << t;
        // The white square runs along the camera's top edge.
        int white = 0;
        for (int y = 24; y < 60; ++y)
            for (int x = 24; x < 244; ++x) {
                const QColor seen = frame.pixelColor(x, y);
                white += std::min({seen.red(), seen.green(), seen.blue()}) > 200;
            }
        fewestWhite = std::min(fewestWhite, white);
        mostWhite = std::max(mostWhite, white);
    }
    EXPECT_LT(fewestWhite, 30);
    EXPECT_GT(mostWhite, 150);
}

} // namespace
