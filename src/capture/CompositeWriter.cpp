#include "capture/CompositeWriter.h"

#include "base/Diag.h"
#include "capture/BubbleCompositor.h"
#include "capture/Mp4Writer.h"
#include "capture/Recorder.h"

#include <QFile>

namespace {
// The file and its encoders, opened when the session starts: the sound track
// is made from the first sound's format.
class Mp4CompositeOutput final : public CompositeOutput {
public:
    Mp4CompositeOutput(const WriterSettings &settings, const CompositeSettings &composite)
        : m_settings(settings),
          m_compositor(settings.size, composite.spot, BubbleGeometry::forPointScale(composite.pointScale))
    {
        QFile::remove(settings.path);
        QFile probe(settings.path);
        if (!probe.open(QIODevice::WriteOnly))
            throw RecorderError::failed(QStringLiteral("The recording could not be written to %1: %2.")
                                            .arg(settings.path, probe.errorString()));
    }

    void start(std::optional<Sound> sound) override
    {
        Mp4Settings mp4;
        mp4.path = m_settings.path;
        mp4.size = m_settings.size;
        mp4.preset = m_settings.preset;
        if (sound) {
            mp4.audioSampleRate = sound->sampleRate;
            mp4.audioChannels = sound->channels;
        }
        m_writer = std::make_unique<Mp4Writer>(mp4);
    }
    void cameraPicture(const VideoFrame &camera) override { m_compositor.setCamera(camera); }
    void writePicture(const VideoFrame &screen, int64_t ptsUs) override
    {
        AVFrame *picture = m_writer->pictureToFill();
        m_compositor.compose(screen, I420View{picture->data[0], picture->data[1], picture->data[2],
                                              picture->linesize[0], picture->linesize[1], picture->linesize[2]});
        m_writer->writeVideo(ptsUs);
        // Cut a fragment now and then so that a killed process leaves a file
        // close to the present even when pictures come rarely.
        if (ptsUs - m_lastFlushUs >= 1'000'000) {
            m_writer->flushFragment();
            m_lastFlushUs = ptsUs;
        }
    }
    void writeSound(const AudioChunk &chunk, int64_t ptsUs) override
    {
        if (m_writer->hasAudio())
            m_writer->writeAudio(chunk.samples.data(), chunk.frameCount(), ptsUs);
    }
    void finish(int64_t endUs) override { m_writer->finish(endUs); }
    void cancel() override
    {
        m_writer.reset();
        QFile::remove(m_settings.path);
    }

private:
    WriterSettings m_settings;
    BubbleCompositor m_compositor;
    std::unique_ptr<Mp4Writer> m_writer;
    int64_t m_lastFlushUs = 0;
};

CompositeSettings compositeSettings(const WriterSettings &settings, double pointScale, BubbleSpot spot)
{
    return CompositeSettings{settings.size, pointScale, spot, settings.audioSampleRate > 0};
}
} // namespace

std::unique_ptr<CompositeOutput> makeMp4CompositeOutput(const WriterSettings &settings,
                                                        const CompositeSettings &composite)
{
    return std::make_unique<Mp4CompositeOutput>(settings, composite);
}

CompositeWriter::CompositeWriter(const WriterSettings &settings, double pointScale, BubbleSpot spot)
    : CompositeWriter(compositeSettings(settings, pointScale, spot),
                      makeMp4CompositeOutput(settings, compositeSettings(settings, pointScale, spot)), &monotonicNowUs)
{
}

CompositeWriter::CompositeWriter(const CompositeSettings &settings, std::unique_ptr<CompositeOutput> output,
                                 std::function<int64_t()> nowUs, int64_t tickUs)
    : m_output(std::move(output)), m_session(settings, *m_output, std::move(nowUs)), m_tickUs(tickUs)
{
    m_thread = std::thread([this] { run(); });
}

CompositeWriter::~CompositeWriter()
{
    {
        std::lock_guard lock(m_mutex);
        m_closing = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable())
        m_thread.join();
}

void CompositeWriter::videoFrame(VideoFrame frame)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_finishAsked)
            return;
        if (m_screen)
            ++m_dropped;
        m_screen = std::move(frame);
    }
    m_wake.notify_one();
}

void CompositeWriter::cameraFrame(VideoFrame frame)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_finishAsked)
            return;
        m_camera = std::move(frame);
    }
    m_wake.notify_one();
}

void CompositeWriter::audioChunk(AudioChunk chunk)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_finishAsked)
            return;
        m_audio.push_back(std::move(chunk));
    }
    m_wake.notify_one();
}

void CompositeWriter::finish(int64_t, std::function<void(std::optional<QString>)> done)
{
    {
        std::lock_guard lock(m_mutex);
        m_done = std::move(done);
        m_finishAsked = true;
    }
    m_wake.notify_one();
}

int64_t CompositeWriter::droppedPictures() const
{
    std::lock_guard lock(m_mutex);
    return m_dropped;
}

int64_t CompositeWriter::framesWritten() const
{
    std::lock_guard lock(m_mutex);
    return m_framesWritten;
}

void CompositeWriter::run()
{
    for (;;) {
        std::optional<VideoFrame> screen;
        std::optional<VideoFrame> camera;
        std::deque<AudioChunk> audio;
        bool finishing = false;
        {
            std::unique_lock lock(m_mutex);
            const bool woken = m_wake.wait_for(lock, std::chrono::microseconds(m_tickUs), [this] {
                return m_closing || m_finishAsked || m_screen || m_camera || !m_audio.empty();
            });
            if (m_closing && !m_finishAsked)
                return; // dropped without finish: the file ends where it is
            screen = std::exchange(m_screen, std::nullopt);
            camera = std::exchange(m_camera, std::nullopt);
            audio.swap(m_audio);
            finishing = m_finishAsked;
            if (!woken) {
                lock.unlock();
                m_session.tick();
                continue;
            }
        }
        // What came before the finish is still taken, in the order it came.
        for (const AudioChunk &chunk : audio)
            m_session.audioSample(chunk);
        // The camera first: a screen picture taken with it then shows the bubble.
        if (camera)
            m_session.cameraFrame(std::move(*camera));
        if (screen)
            m_session.screenFrame(std::move(*screen));
        {
            std::lock_guard lock(m_mutex);
            m_framesWritten = m_session.framesWritten();
        }
        if (finishing) {
            const std::optional<QString> error = m_session.finish();
            std::function<void(std::optional<QString>)> done;
            {
                std::lock_guard lock(m_mutex);
                m_framesWritten = m_session.framesWritten();
                done = std::move(m_done);
            }
            Diag::log(QStringLiteral("composite: %1 pictures within 1/60 s of the one before, %2 screen pictures "
                                     "dropped while the writer was behind")
                          .arg(m_session.picturesTooClose())
                          .arg(droppedPictures()));
            if (done)
                done(error);
            return;
        }
    }
}
