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
                          Case{640, 640, 220, {0, 0, 640}}, Case{1920, 1080, 440, {420, 0, 1080}}})
        EXPECT_EQ(cameraCrop(c.width, c.height, c.diameter), c.crop) << c.width << "x" << c.height;
}

// Writes down what the session asks of the file, times in ms after its start.
class RecordingOutput final : public CompositeOutput {
public:
    void start(std::optional<Sound> sound) override
    {
        if (failStarts-- > 0)
            throw RecorderError::failed(QStringLiteral("no room"));
        note(sound ? "start " + std::to_string(sound->sampleRate) + "x" + std::to_string(sound->channels) : "start");
    }
    void cameraPicture(const VideoFrame &) override { note("camera"); }
    void writePicture(const VideoFrame &screen, int64_t ptsUs) override
    {
        note("picture " + std::to_string(ptsUs / 1000) + " of " + std::to_string(screen.width));
    }
    void writeSound(const AudioChunk &, int64_t ptsUs) override { note("sound " + std::to_string(ptsUs / 1000)); }
    void finish(int64_t endUs) override { note("end " + std::to_string(endUs / 1000)); }
    void cancel() override { note("cancel"); }
    void note(const std::string &call) { log += (log.empty() ? "" : ", ") + call; }

    int failStarts = 0;
    std::string log;
};

constexpr int64_t ms = 1000;

struct SessionRig {
    explicit SessionRig(bool wantsAudio)
        : session(CompositeSettings{{1920, 1080}, 1.0, BubbleSpot::bottomRight, wantsAudio}, output,
                  [this] { return now; })
    {
    }
    // A screen picture `width` pixels wide.
    void screenAt(int64_t t, int width = 64)
    {
        now = t;
        session.screenFrame(
            VideoFrame{std::shared_ptr<uint8_t[]>(new uint8_t[width * 4 * 4]()), width, 4, width * 4, 0});
    }
    void soundAt(int64_t t) { session.audioSample(AudioChunk{std::vector<float>(960), 2, 48000, t}); }
    void tickAt(int64_t t)
    {
        now = t;
        session.tick();
    }
    int64_t now = 0;
    RecordingOutput output;
    CompositeSession session;
};

TEST(CompositeSessionTest, StartWaitsUpToASecondForSound)
{
    // Without the microphone the first picture starts the file.
    SessionRig quiet(false);
    quiet.screenAt(5 * ms);
    EXPECT_EQ(quiet.output.log, "start, picture 0 of 64");

    // With it, pictures wait; the first sound starts the file at once, with
    // its format; that sound, and any older than the start, is not written.
    SessionRig heard(true);
    heard.screenAt(0);
    heard.screenAt(500 * ms);
    EXPECT_EQ(heard.output.log, "");
    heard.now = 600 * ms;
    for (const int64_t at : {590, 590, 610})
        heard.soundAt(at * ms);
    EXPECT_EQ(heard.output.log, "start 48000x2, picture 0 of 64, sound 10");

    // No sound within a second: the start goes on without it, by a picture
    // or, on a still screen, by the tick; later sound is too late for a track.
    for (const bool still : {false, true}) {
        SessionRig silent(true);
        silent.screenAt(0);
        still ? silent.tickAt(999 * ms) : silent.screenAt(999 * ms);
        EXPECT_EQ(silent.output.log, "") << still;
        still ? silent.tickAt(1000 * ms) : silent.screenAt(1000 * ms);
        silent.soundAt(1100 * ms);
        EXPECT_EQ(silent.output.log, "start, picture 0 of 64") << still;
    }
}

TEST(CompositeSessionTest, PicturesAreSpacedAtLeastASixtiethApartAndAQuietScreenIsRepeated)
{
    SessionRig rig(false);
    rig.session.cameraFrame(VideoFrame{});
    EXPECT_EQ(rig.output.log, "camera") << "the camera alone does not start the file";
    rig.screenAt(0);
    rig.screenAt(10 * ms); // skipped
    rig.now = 17 * ms;
    rig.session.cameraFrame(VideoFrame{}); // the bubble moves on a still screen
    rig.screenAt(20 * ms);                 // skipped
    rig.screenAt(40 * ms);
    // A quiet screen is written again after a quarter second.
    rig.tickAt(200 * ms);
    rig.tickAt(290 * ms);
    EXPECT_EQ(rig.output.log,
              "camera, start, picture 0 of 64, camera, picture 17 of 64, picture 40 of 64, picture 290 of 64");
}

TEST(CompositeSessionTest, FinishWritesTheLatestScreenAgainOnlyAfterTheLastPictureAndTakesNothingAfter)
{
    // The file ends a frame (1/30 s) after its last picture.
    for (const auto &[finishAt, log] :
         {std::pair{105 * ms, "start, picture 0 of 32, picture 100 of 48, picture 105 of 48, end 138"},
          std::pair{100 * ms, "start, picture 0 of 32, picture 100 of 48, end 133"}}) {
        SessionRig rig(false);
        rig.screenAt(0, 32);
        rig.screenAt(100 * ms, 48);
        rig.now = finishAt;
        EXPECT_EQ(rig.session.finish(), std::nullopt);
        rig.screenAt(200 * ms);
        EXPECT_EQ(rig.output.log, log);
    }
}

TEST(CompositeSessionTest, AFailedStartIsTriedAgainWithTheNextPicture)
{
    SessionRig rig(false);
    rig.output.failStarts = 1;
    rig.screenAt(0);
    EXPECT_EQ(rig.output.log, "");
    rig.screenAt(30 * ms);
    EXPECT_EQ(rig.output.log, "start, picture 0 of 64");
}

} // namespace
