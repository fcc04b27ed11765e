#pragma once

#include "capture/BubbleGeometry.h"
#include "platform/capture/CaptureTypes.h"

#include <QString>

#include <functional>
#include <optional>

// What a composited recording writes into: the file with its encoders and the
// bubble drawing. The real one is Mp4CompositeOutput; tests record the calls.
class CompositeOutput {
public:
    struct Sound {
        int sampleRate = 0;
        int channels = 0;
    };
    virtual ~CompositeOutput() = default;
    // Starts writing the file, with a sound track when `sound` is given.
    // Throws RecorderError; nothing is written then and it may be asked again.
    virtual void start(std::optional<Sound> sound) = 0;
    virtual void cameraPicture(const VideoFrame &camera) = 0;
    // ptsUs: microseconds after the start, each later than the one before.
    virtual void writePicture(const VideoFrame &screen, int64_t ptsUs) = 0;
    virtual void writeSound(const AudioChunk &chunk, int64_t ptsUs) = 0;
    // Ends the file at endUs after the start. Throws RecorderError.
    virtual void finish(int64_t endUs) = 0;
    // Gives up before the start: the file is removed.
    virtual void cancel() = 0;
};

struct CompositeSettings {
    PixelSize size;
    double pointScale = 1.0; // video pixels per logical screen pixel
    BubbleSpot spot = BubbleSpot::bottomLeft;
    bool wantsAudio = false; // microphone sound is expected
};

// The timing rules of a composited recording, on one thread: when the file
// starts (with the first screen picture, or up to a second later with the
// first microphone sound), which pictures are written (at most one per 1/60 s,
// each from the latest screen and camera pictures, whichever of them came),
// and how it ends (a last picture at the moment of stopping). Times are
// microseconds of the monotonic clock, read through `nowUs`.
class CompositeSession {
public:
    CompositeSession(const CompositeSettings &settings, CompositeOutput &output, std::function<int64_t()> nowUs);

    void screenFrame(VideoFrame frame);
    void audioSample(const AudioChunk &chunk);
    void cameraFrame(VideoFrame frame);
    // Called now and then while nothing else comes: a start that waits for
    // sound gives up after a second, and a quiet screen is written again, so
    // the file on disk keeps close to the present.
    void tick();
    // Ends the recording; the error's text when there is no file.
    std::optional<QString> finish();

    const BubbleGeometry &geometry() const { return m_geometry; }
    bool started() const { return m_started; }
    int64_t framesWritten() const { return m_framesWritten; }
    int64_t audioWritten() const { return m_audioWritten; }
    // Pictures not written because they came within 1/60 s of the last one.
    int64_t picturesTooClose() const { return m_tooClose; }

    static constexpr int64_t kMinSpacingUs = 1'000'000 / 60;
    static constexpr int64_t kAudioWaitUs = 1'000'000;
    static constexpr int64_t kQuietRepeatUs = 250'000;

private:
    void begin(int64_t t);
    void emit(int64_t t, bool force, const VideoFrame *screenOverride = nullptr);
    void failed(const QString &text);

    CompositeSettings m_settings;
    CompositeOutput &m_output;
    std::function<int64_t()> m_nowUs;
    BubbleGeometry m_geometry;
    std::optional<CompositeOutput::Sound> m_audio;
    std::optional<VideoFrame> m_screen;
    bool m_started = false;
    bool m_finishing = false;
    std::optional<int64_t> m_firstScreenAt;
    std::optional<int64_t> m_lastPts;
    int64_t m_framesWritten = 0;
    int64_t m_audioWritten = 0;
    int64_t m_tooClose = 0;
    int64_t m_startPts = 0;
    std::optional<QString> m_failure;
};
