// The composited recording's rules without the encoder: bubble sizes, the
// camera's crop, and when pictures and sound go into the file,
// against a clock the test moves.
#include "capture/CompositeSession.h"
#include "capture/BubbleGeometry.h"
#include "capture/Recorder.h"

#include <gtest/gtest.h>

#include <memory>
#include <tuple>
#include <vector>

namespace {

TEST(BubbleGeometryTest, SizesRoundHalfAwayFromZero)
{
    struct Case {
        double pointScale;
        int diameter, margin, border;
    };
    for (const Case &c : {Case{1.0, 220, 24, 2}, Case{1.6931, 372, 41, 3}, Case{2.0, 440, 48, 4}, Case{0.5, 110, 12, 2},
                          Case{1.25, 275, 30, 3}}) {
        const BubbleGeometry g = BubbleGeometry::forPointScale(c.pointScale);
        EXPECT_EQ(std::tuple(g.diameter, g.margin, g.border), std::tuple(c.diameter, c.margin, c.border))
            << c.pointScale;
    }
}

TEST(BubbleGeometryTest, CameraCropIsTheCentreSquare)
{
    struct Case {
        int width, height, diameter;
        CameraCrop crop;
    };
    // 1280x720 at 220: the scaled offset 86 (85.56 rounded) counts from the
    // right once mirrored, 85.11 scaled pixels = 279 camera pixels from the left.
    for (const Case &c : {Case{1280, 720, 220, {279, 0, 720}}, Case{720, 1280, 220, {0, 279, 720}},
                          Case{640, 640, 220, {0, 0, 640}}, Case{1920, 1080, 440, {420, 0, 1080}}}) {
        EXPECT_EQ(cameraCrop(c.width, c.height, c.diameter), c.crop) << c.width << "x" << c.height;
    }
}

// Records what the session asks of the file.
class RecordingOutput final : public CompositeOutput {
public:
    void start(std::optional<Sound> sound) override
    {
        if (failStarts > 0) {
            --failStarts;
            throw RecorderError::failed(QStringLiteral("no room"));
        }
        this->sound = sound;
    }
    void cameraPicture(const VideoFrame &) override { ++cameraPictures; }
    void writePicture(const VideoFrame &screen, int64_t ptsUs) override
    {
        pictures.push_back(ptsUs);
        pictureWidths.push_back(screen.width);
    }
    void writeSound(const AudioChunk &, int64_t ptsUs) override { sounds.push_back(ptsUs); }
    void finish(int64_t endUs) override { finishedAt = endUs; }
    void cancel() override { cancelled = true; }

    int failStarts = 0;
    std::optional<Sound> sound;
    int cameraPictures = 0;
    std::vector<int64_t> pictures;
    std::vector<int> pictureWidths;
    std::vector<int64_t> sounds;
    std::optional<int64_t> finishedAt;
    bool cancelled = false;
};

VideoFrame screenPicture(int width = 64)
{
    return VideoFrame{std::shared_ptr<uint8_t[]>(new uint8_t[width * 4 * 4]()), width, 4, width * 4, 0};
}

AudioChunk sound(int64_t timestampUs)
{
    return AudioChunk{std::vector<float>(960), 2, 48000, timestampUs};
}

struct SessionRig {
    explicit SessionRig(bool wantsAudio)
        : session(CompositeSettings{{1920, 1080}, 1.0, BubbleSpot::bottomRight, wantsAudio}, output,
                  [this] { return now; })
    {
    }
    void screenAt(int64_t t, int width = 64)
    {
        now = t;
        session.screenFrame(screenPicture(width));
    }
    int64_t now = 0;
    RecordingOutput output;
    CompositeSession session;
};

constexpr int64_t ms = 1000;

TEST(CompositeSessionTest, StartWaitsUpToASecondForSound)
{
    // Without the microphone the first picture starts the file.
    SessionRig quiet(false);
    quiet.screenAt(5 * ms);
    EXPECT_FALSE(quiet.output.sound);
    EXPECT_EQ(quiet.output.pictures, std::vector<int64_t>{0});

    // With it, pictures wait; the first sound starts at once, with its format.
    SessionRig heard(true);
    heard.screenAt(0);
    heard.screenAt(500 * ms);
    EXPECT_FALSE(heard.session.started());
    heard.now = 600 * ms;
    heard.session.audioSample(sound(590 * ms));
    ASSERT_TRUE(heard.output.sound);
    EXPECT_EQ(heard.output.sound->sampleRate, 48000);
    EXPECT_EQ(heard.output.sound->channels, 2);
    EXPECT_EQ(heard.output.pictures, std::vector<int64_t>{0});
    EXPECT_TRUE(heard.output.sounds.empty()) << "sound from before the start is never written";
    heard.session.audioSample(sound(590 * ms));
    heard.session.audioSample(sound(610 * ms));
    EXPECT_EQ(heard.output.sounds, std::vector<int64_t>{10 * ms}) << "older than the start: dropped";

    // No sound within a second: the start goes on without it, by a picture
    // or, on a still screen, by the tick.
    SessionRig silent(true);
    silent.screenAt(0);
    silent.screenAt(999 * ms);
    EXPECT_FALSE(silent.session.started());
    silent.screenAt(1000 * ms);
    EXPECT_TRUE(silent.session.started());
    EXPECT_FALSE(silent.output.sound);
    silent.session.audioSample(sound(1100 * ms));
    EXPECT_TRUE(silent.output.sounds.empty()) << "too late for a sound track";

    SessionRig still(true);
    still.screenAt(0);
    still.now = 900 * ms;
    still.session.tick();
    EXPECT_FALSE(still.session.started());
    still.now = 1000 * ms;
    still.session.tick();
    EXPECT_TRUE(still.session.started());
}

TEST(CompositeSessionTest, PicturesAreSpacedAtLeastASixtiethApart)
{
    SessionRig rig(false);
    rig.session.cameraFrame(screenPicture());
    EXPECT_FALSE(rig.session.started()) << "the camera alone does not start the file";
    rig.screenAt(0);
    rig.screenAt(10 * ms); // skipped
    rig.now = 17 * ms;
    rig.session.cameraFrame(screenPicture()); // the bubble moves on a still screen
    rig.screenAt(20 * ms);                    // skipped
    rig.screenAt(40 * ms);
    EXPECT_EQ(rig.output.pictures, (std::vector<int64_t>{0, 17 * ms, 40 * ms}));
    EXPECT_EQ(rig.output.cameraPictures, 2);
    // A quiet screen is written again after a quarter second.
    rig.now = 200 * ms;
    rig.session.tick();
    rig.now = 290 * ms;
    rig.session.tick();
    EXPECT_EQ(rig.output.pictures, (std::vector<int64_t>{0, 17 * ms, 40 * ms, 290 * ms}));
}

TEST(CompositeSessionTest, FinishWritesALastPictureOnlyAfterTheLastOne)
{
    struct Case {
        int64_t finishAt;
        std::vector<int64_t> pictures;
    };
    for (const Case &c : {Case{105 * ms, {100 * ms, 105 * ms}}, Case{100 * ms, {100 * ms}}}) {
        SessionRig rig(false);
        rig.screenAt(0, 32);
        rig.screenAt(100 * ms, 48);
        rig.now = c.finishAt;
        EXPECT_EQ(rig.session.finish(), std::nullopt);
        std::vector<int64_t> written(rig.output.pictures.begin() + 1, rig.output.pictures.end());
        EXPECT_EQ(written, c.pictures) << c.finishAt;
        EXPECT_EQ(rig.output.pictureWidths.back(), 48) << "the latest screen picture";
        ASSERT_TRUE(rig.output.finishedAt);
        EXPECT_GT(*rig.output.finishedAt, c.pictures.back());
        // Nothing is taken after the finish.
        rig.screenAt(200 * ms);
        EXPECT_EQ(rig.output.pictures.size(), c.pictures.size() + 1);
    }
}

TEST(CompositeSessionTest, FinishBeforeAnyPictureReportsNothingRecorded)
{
    SessionRig rig(true);
    rig.session.audioSample(sound(0));
    EXPECT_EQ(rig.session.finish(), QStringLiteral("Nothing was recorded: the screen never sent a picture."));
    EXPECT_TRUE(rig.output.cancelled);
    EXPECT_FALSE(rig.output.finishedAt);
}

TEST(CompositeSessionTest, AFailedStartIsTriedAgainWithTheNextPicture)
{
    SessionRig rig(false);
    rig.output.failStarts = 1;
    rig.screenAt(0);
    EXPECT_FALSE(rig.session.started());
    rig.screenAt(30 * ms);
    EXPECT_TRUE(rig.session.started());
    EXPECT_EQ(rig.output.pictures, std::vector<int64_t>{0});
}

} // namespace
