// The recorder's composited path: a bubble spot selects the compositing
// writer with the screen's point scale, and camera pictures reach it.
#include "Await.h"
#include "FakeCapture.h"
#include "PrivateHome.h"

#include "capture/BubbleGeometry.h"
#include "capture/ScreenRecorder.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>

namespace {

// Counts the camera pictures that reach it; finishes at once.
class CameraCountingWriter final : public RecordingWriter {
public:
    explicit CameraCountingWriter(std::shared_ptr<std::atomic<int>> pictures) : m_pictures(std::move(pictures)) {}
    void videoFrame(VideoFrame) override {}
    void audioChunk(AudioChunk) override {}
    void cameraFrame(VideoFrame) override { ++*m_pictures; }
    bool drawsBubble() const override { return true; }
    void finish(int64_t, std::function<void(std::optional<QString>)> done) override { done(std::nullopt); }

private:
    std::shared_ptr<std::atomic<int>> m_pictures;
};

struct CompositedRig {
    CompositedRig()
    {
        platform->list = {DisplayInfo{9, QStringLiteral("out-9"), QRect(0, 0, 1512, 982), 1512, 982}};
        options.choosePreset = [](PixelSize) { return QStringLiteral("ultrafast"); };
    }
    QString output() const { return dir.filePath(QStringLiteral("bubble.mp4")); }
    PrivateHome home{PrivateHome::thisProcess};
    QTemporaryDir dir;
    std::shared_ptr<FakeCapturePlatform> platform = std::make_shared<FakeCapturePlatform>();
    ScreenRecorder::Options options;
};

TEST(CompositedRecorder, ASpotDrawsTheBubbleAtTheScreensPointScale)
{
    CompositedRig rig;
    WriterSettings settings;
    auto pictures = std::make_shared<std::atomic<int>>(0);
    rig.options.makeWriter = [&settings, pictures](const WriterSettings &given) -> std::unique_ptr<RecordingWriter> {
        settings = given;
        return std::make_unique<CameraCountingWriter>(pictures);
    };
    ScreenRecorder recorder(rig.platform, rig.options);
    // No screen: two pixels a point, so 1512 points make 2560 pixels.
    run(recorder.start(rig.output(), nullptr, false, BubbleSpot::topRight));
    EXPECT_EQ(settings.bubbleSpot, BubbleSpot::topRight);
    EXPECT_EQ(settings.size, (PixelSize{2560, 1662}));
    EXPECT_EQ(BubbleGeometry::forPointScale(settings.pointScale).diameter, 372);
    const std::function<void(VideoFrame)> intake = recorder.cameraIntake();
    ASSERT_TRUE(intake);
    intake(VideoFrame{});
    intake(VideoFrame{});
    EXPECT_EQ(*pictures, 2);
    run(recorder.stop());
    EXPECT_FALSE(recorder.cameraIntake()) << "nothing to draw into once stopped";
}

TEST(CompositedRecorder, AScreenThatSendsNothingLeavesNoFile)
{
    // The real compositing writer behind a screen that never sends a picture.
    CompositedRig rig;
    ScreenRecorder recorder(rig.platform, rig.options);
    run(recorder.start(rig.output(), nullptr, false, BubbleSpot::bottomLeft));
    ASSERT_TRUE(recorder.cameraIntake());
    EXPECT_EQ(failureText(recorder.stop()), QStringLiteral("Nothing was recorded: the screen never sent a picture."));
    EXPECT_FALSE(QFile::exists(rig.output()));
}

} // namespace
