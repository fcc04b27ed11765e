#include "capture/DirectWriter.h"

#include "base/Diag.h"
#include "capture/ColorConvert.h"
#include "capture/Recorder.h"

#include <QFile>
#include <libyuv/scale_argb.h>

namespace {
// Sound heard before the first picture is kept this long at most.
constexpr std::size_t kEarlySoundChunks = 200;

Mp4Settings mp4Settings(const WriterSettings &settings)
{
    Mp4Settings mp4;
    mp4.path = settings.path;
    mp4.size = settings.size;
    mp4.preset = settings.preset;
    mp4.audioSampleRate = settings.audioSampleRate;
    mp4.audioChannels = settings.audioChannels;
    return mp4;
}
} // namespace

DirectWriter::DirectWriter(const WriterSettings &settings) : m_settings(settings), m_writer(mp4Settings(settings))
{
    m_thread = std::thread([this] { run(); });
}

DirectWriter::~DirectWriter()
{
    m_queue.close();
    if (m_thread.joinable())
        m_thread.join();
}

void DirectWriter::videoFrame(VideoFrame frame)
{
    m_queue.pushVideo(std::move(frame));
}

void DirectWriter::audioChunk(AudioChunk chunk)
{
    m_queue.pushAudio(std::move(chunk));
}

void DirectWriter::finish(int64_t endUs, std::function<void(std::optional<QString>)> done)
{
    m_done = std::move(done);
    m_endUs = endUs;
    // Closing wakes the thread, which takes what is queued and then ends.
    m_queue.close();
}

void DirectWriter::run()
{
    std::optional<QString> error;
    try {
        encode();
    } catch (const RecorderError &failure) {
        error = failure.description();
        // Nothing more is written; what comes is taken and let go until
        // finish, which is when the error can be reported.
        while (!m_queue.take(std::chrono::steady_clock::now() + std::chrono::seconds(1)).closed) {
        }
    }
    const int64_t dropped = m_queue.droppedVideoFrames() + m_picturesSkipped;
    Diag::log(QStringLiteral("recording finished: %1 pictures written, %2 dropped, %3 sound chunks dropped%4")
                  .arg(m_writer.videoFramesWritten())
                  .arg(dropped)
                  .arg(m_queue.droppedAudioChunks())
                  .arg(error ? QStringLiteral(", error: ") + *error : QString()));
    if (m_done)
        m_done(error);
}

void DirectWriter::encode()
{
    for (;;) {
        const auto wakeAt = std::chrono::steady_clock::now() + std::chrono::microseconds(kRepeatIntervalUs);
        FrameQueue::Batch batch = m_queue.take(wakeAt);
        const int64_t endUs = m_endUs.load();
        for (const VideoFrame &frame : batch.video) {
            if (frame.timestampUs <= endUs)
                writePicture(frame);
        }
        for (const AudioChunk &chunk : batch.audio)
            writeSound(chunk);
        if (batch.closed)
            break;
        const int64_t nowUs = monotonicNowUs();
        if (m_startUs >= 0 && batch.video.empty() && nowUs - m_lastPictureUs >= kRepeatIntervalUs) {
            m_writer.repeatVideo(nowUs - m_startUs);
            // Nothing else would cut a fragment soon on a quiet screen.
            m_writer.flushFragment();
            m_lastPictureUs = nowUs;
        }
    }
    if (m_startUs < 0) {
        // The file exists but holds nothing worth keeping.
        QFile::remove(m_settings.path);
        throw RecorderError::failed(QStringLiteral("Nothing was recorded: no picture of the screen arrived."));
    }
    // Without finish (the recorder went away) the file ends at its last picture.
    const int64_t endUs = m_endUs.load() == INT64_MAX ? m_lastPictureUs : m_endUs.load();
    m_writer.finish(std::max<int64_t>(endUs - m_startUs, 0));
}

void DirectWriter::writePicture(const VideoFrame &frame)
{
    if (m_startUs < 0) {
        m_startUs = frame.timestampUs;
        for (const AudioChunk &chunk : m_earlySound)
            m_writer.writeAudio(chunk.samples.data(), chunk.frameCount(), chunk.timestampUs - m_startUs);
        m_earlySound.clear();
    }
    const PixelSize out = m_settings.size;
    AVFrame *picture = m_writer.pictureToFill();
    const uint8_t *source = frame.pixels.get();
    int stride = frame.strideBytes;
    if (frame.width != out.width || frame.height != out.height) {
        m_scaled.resize(std::size_t(out.width) * out.height * 4);
        libyuv::ARGBScale(source, stride, frame.width, frame.height, m_scaled.data(), out.width * 4, out.width,
                          out.height, libyuv::kFilterBox);
        source = m_scaled.data();
        stride = out.width * 4;
    }
    bgrxToI420Bt709(source, stride, picture->data[0], picture->linesize[0], picture->data[1], picture->linesize[1],
                    picture->data[2], picture->linesize[2], out.width, out.height);
    const int64_t before = m_writer.videoFramesWritten();
    m_writer.writeVideo(frame.timestampUs - m_startUs);
    if (m_writer.videoFramesWritten() == before)
        ++m_picturesSkipped; // same time stamp as the one before
    m_lastPictureUs = frame.timestampUs;
}

void DirectWriter::writeSound(const AudioChunk &chunk)
{
    if (!m_writer.hasAudio())
        return;
    if (m_startUs < 0) {
        m_earlySound.push_back(chunk);
        if (m_earlySound.size() > kEarlySoundChunks)
            m_earlySound.pop_front();
        return;
    }
    if (chunk.timestampUs <= m_endUs.load())
        m_writer.writeAudio(chunk.samples.data(), chunk.frameCount(), chunk.timestampUs - m_startUs);
}
