#pragma once

#include "capture/FrameQueue.h"
#include "capture/Mp4Writer.h"
#include "capture/RecordingWriter.h"

#include <atomic>
#include <thread>

// Encodes on its own thread what the capture threads queue. The picture queue
// keeps the newest pictures when the encoder falls behind, and drops are
// logged at the end. On a quiet screen the last picture is repeated a few
// times a second, so the file on disk stays close to the present even if the
// process dies.
class DirectWriter final : public RecordingWriter {
public:
    // Opens the file and encoders; throws RecorderError.
    explicit DirectWriter(const WriterSettings &settings);
    ~DirectWriter() override;

    void videoFrame(VideoFrame frame) override;
    void audioChunk(AudioChunk chunk) override;
    void finish(int64_t endUs, std::function<void(std::optional<QString> error)> done) override;

    // How long a quiet screen waits before its picture is written again.
    static constexpr int64_t kRepeatIntervalUs = 250'000;

private:
    void run();
    void encode();
    void writePicture(const VideoFrame &frame);
    void writeSound(const AudioChunk &chunk);

    WriterSettings m_settings;
    Mp4Writer m_writer;
    FrameQueue m_queue;
    std::vector<uint8_t> m_scaled; // B,G,R,X at the output size, when the display differs
    std::deque<AudioChunk> m_earlySound;
    int64_t m_startUs = -1; // monotonic time of the first picture
    int64_t m_lastPictureUs = 0;
    int64_t m_picturesSkipped = 0;
    std::atomic<int64_t> m_endUs{INT64_MAX};
    std::function<void(std::optional<QString>)> m_done;
    std::thread m_thread;
};
