#include "ScreenshotCompare.h"

#include "service/Thumbs.h"
#include "ui/ThumbnailImageProvider.h"

#include <QImage>
#include <QProcess>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// Every video's frame is plain red.
class RedFrames final : public FrameGrabber {
public:
    QImage grab(const QUrl &, const FrameWindow &) override
    {
        QImage picture(320, 180, QImage::Format_RGB32);
        picture.fill(Qt::red);
        return picture;
    }
};

// A link thumbnail on a plain backdrop, its picture from the thumbnail cache
// and its video a real MP4, in a window big enough for the player popover.
class LinkThumbTest : public testing::Test {
protected:
    void SetUp() override
    {
        const QString video = dir.filePath("clip.mp4");
        ASSERT_EQ(QProcess::execute("ffmpeg", {"-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                               "testsrc2=s=320x180:r=15:d=3", "-f", "lavfi", "-i", "sine=d=3", "-c:v",
                                               "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac", video}),
                  0);
        view.engine()->addImageProvider(ThumbnailImageProvider::kName, new ThumbnailImageProvider(thumbs));

        QFile host(dir.filePath("host.qml"));
        ASSERT_TRUE(host.open(QIODevice::WriteOnly));
        host.write(
            QStringLiteral("import QtQuick\nimport \"qrc:/qml\"\n"
                           "Rectangle { width: 520; height: 420; color: \"#121216\"\n"
                           "  LinkThumb { x: 20; y: 20; backdrop: parent.color; linkId: \"a1\"; title: \"Demo\"\n"
                           "    mediaUrl: \"%1\" } }\n")
                .arg(QUrl::fromLocalFile(video).toString())
                .toUtf8());
        host.close();
        view.setSource(QUrl::fromLocalFile(dir.filePath("host.qml")));
        ASSERT_TRUE(view.errors().isEmpty()) << qPrintable(view.errors().value(0).toString());
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
        thumb = view.rootObject()->findChild<QQuickItem *>("linkThumb");
        ASSERT_TRUE(thumb);
        ASSERT_TRUE(QTest::qWaitFor([&] { return thumb->property("hasImage").toBool(); }));
    }

    QObject *named(const char *name) { return view.rootObject()->findChild<QObject *>(name); }
    QObject *player(const char *holder)
    {
        QObject *item = named(holder);
        return item ? item->property("player").value<QObject *>() : nullptr;
    }
    bool playing(const char *holder)
    {
        QObject *p = player(holder);
        return p && p->property("playbackState").toInt() == 1; // playing
    }

    QTemporaryDir dir;
    std::shared_ptr<Thumbs> thumbs =
        std::make_shared<Thumbs>(QUrl("http://127.0.0.1:9"), std::make_shared<RedFrames>());
    QQuickView view;
    QQuickItem *thumb = nullptr;
};

TEST_F(LinkThumbTest, PictureFillsRoundedCornersAndThePlaySymbolShows)
{
    const QImage image = settledShot(view);
    const QColor backdrop("#121216");
    EXPECT_EQ(image.pixelColor(20, 20), backdrop) << "the corner is rounded off";
    EXPECT_GT(image.pixelColor(20 + 8, 20 + 30).red(), 200) << "the picture fills the frame";
    EXPECT_LT(image.pixelColor(20 + 8, 20 + 30).green(), 60);
    EXPECT_GT(image.pixelColor(20 + 31, 20 + 20).green(), 180) << "the white play symbol sits in the middle";
}

TEST_F(LinkThumbTest, HoverLoopsMutedClickPlaysWithSoundClosingStopsIt)
{
    const QPoint centre(20 + 32, 20 + 20);
    QTest::mouseMove(&view, centre);
    ASSERT_TRUE(QTest::qWaitFor([&] { return playing("loopingPreview"); }));
    EXPECT_FALSE(named("playSymbol")->property("visible").toBool());
    EXPECT_EQ(player("loopingPreview")->property("audioOutput").value<QObject *>(), nullptr) << "the loop is silent";

    QTest::mouseClick(&view, Qt::LeftButton, {}, centre);
    ASSERT_TRUE(QTest::qWaitFor([&] { return playing("playerPopover"); }));
    EXPECT_EQ(named("loopingPreview"), nullptr) << "the loop stops when the player opens";
    EXPECT_TRUE(thumb->property("playing").toBool());
    EXPECT_FALSE(named("playerPopover")->property("audio").value<QObject *>()->property("muted").toBool());

    QTest::mouseClick(&view, Qt::LeftButton, {}, QPoint(300, 30)); // outside the popover
    ASSERT_TRUE(QTest::qWaitFor([&] { return named("playerPopover") == nullptr; }));
    EXPECT_FALSE(thumb->property("playing").toBool());
    QTest::mouseMove(&view, centre + QPoint(1, 1));
    EXPECT_TRUE(QTest::qWaitFor([&] { return playing("loopingPreview"); })) << "hovering again starts a new loop";
}

} // namespace
