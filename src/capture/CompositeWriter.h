#pragma once

#include "capture/CompositeSession.h"
#include "capture/RecordingWriter.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

// The file output of a composited recording: the bubble drawn into each
// picture, H.264/AAC into a fragmented MP4 that plays even if the process dies.
std::unique_ptr<CompositeOutput> makeMp4CompositeOutput(const WriterSettings &settings,
                                                        const CompositeSettings &composite);

// The composited recording: screen pictures, camera pictures and sound come
// from any thread and are taken on one worker thread of its own, which alone
// touches the session, the bubble drawing and the encoders. Only the latest
// screen and camera pictures wait for it; one replaced before it took it is
// counted as dropped.
class CompositeWriter final : public RecordingWriter {
public:
    // Removes any file at the path and checks that it can be written there;
    // throws RecorderError when it cannot.
    CompositeWriter(const WriterSettings &settings, double pointScale, BubbleSpot spot);
    // For tests: another output and clock; `tickUs` is how often the worker
    // looks at a quiet session.
    CompositeWriter(const CompositeSettings &settings, std::unique_ptr<CompositeOutput> output,
                    std::function<int64_t()> nowUs, int64_t tickUs = 100'000);
    ~CompositeWriter() override;

    void videoFrame(VideoFrame frame) override;
    void audioChunk(AudioChunk chunk) override;
    void cameraFrame(VideoFrame frame) override;
    bool drawsBubble() const override { return true; }
    // The last picture is written at the moment the worker takes the finish.
    void finish(int64_t endUs, std::function<void(std::optional<QString> error)> done) override;

    int64_t droppedPictures() const;
    int64_t framesWritten() const;

private:
    void run();

    std::unique_ptr<CompositeOutput> m_output;
    CompositeSession m_session;
    int64_t m_tickUs;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<VideoFrame> m_screen;
    std::optional<VideoFrame> m_camera;
    std::deque<AudioChunk> m_audio;
    std::function<void(std::optional<QString>)> m_done;
    bool m_finishAsked = false;
    bool m_closing = false;
    int64_t m_dropped = 0;
    int64_t m_framesWritten = 0;
    std::thread m_thread;
};
