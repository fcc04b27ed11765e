#include "capture/CompositeSession.h"

#include "base/Diag.h"
#include "capture/Recorder.h"

namespace {
// The last picture is shown this long when the file ends.
constexpr int64_t kLastPictureUs = 1'000'000 / 30;
} // namespace

CompositeSession::CompositeSession(const CompositeSettings &settings, CompositeOutput &output,
                                   std::function<int64_t()> nowUs)
    : m_settings(settings), m_output(output), m_nowUs(std::move(nowUs)),
      m_geometry(BubbleGeometry::forPointScale(settings.pointScale))
{
}

void CompositeSession::screenFrame(VideoFrame frame)
{
    if (m_finishing)
        return;
    m_screen = std::move(frame);
    const int64_t now = m_nowUs();
    if (!m_started) {
        if (!m_firstScreenAt)
            m_firstScreenAt = now;
        // The sound track can only be made from the first sound's format, so
        // the start waits a little for it.
        if (m_settings.wantsAudio && !m_audio && now - *m_firstScreenAt < kAudioWaitUs)
            return;
        begin(now);
    }
    emit(now, false);
}

void CompositeSession::audioSample(const AudioChunk &chunk)
{
    if (!m_started) {
        if (!m_audio && m_settings.wantsAudio && chunk.sampleRate > 0 && chunk.channels > 0) {
            m_audio = CompositeOutput::Sound{chunk.sampleRate, chunk.channels > 1 ? 2 : 1};
            Diag::log(QStringLiteral("composite: audio %1 Hz, %2 ch")
                          .arg(QString::number(double(chunk.sampleRate), 'f', 1))
                          .arg(chunk.channels));
            if (m_screen) {
                begin(m_nowUs());
                emit(m_nowUs(), false);
            }
        }
        return; // sound from before the start is never written
    }
    if (m_finishing || !m_audio || chunk.timestampUs < m_startPts)
        return;
    if (m_failure)
        return;
    try {
        m_output.writeSound(chunk, chunk.timestampUs - m_startPts);
        ++m_audioWritten;
    } catch (const RecorderError &error) {
        failed(error.description());
    }
}

void CompositeSession::cameraFrame(VideoFrame frame)
{
    if (m_finishing)
        return;
    m_output.cameraPicture(frame);
    // The bubble moves even while the screen is still.
    if (m_started)
        emit(m_nowUs(), false);
}

void CompositeSession::tick()
{
    if (m_finishing || !m_screen)
        return;
    const int64_t now = m_nowUs();
    if (!m_started) {
        // A still screen sends no more pictures: the wait for sound ends here.
        if (m_firstScreenAt && now - *m_firstScreenAt >= kAudioWaitUs) {
            begin(now);
            emit(now, false);
        }
        return;
    }
    if (m_lastPts && now - *m_lastPts >= kQuietRepeatUs)
        emit(now, false);
}

void CompositeSession::begin(int64_t t)
{
    if (m_started)
        return;
    try {
        m_output.start(m_audio);
    } catch (const RecorderError &error) {
        Diag::log(QStringLiteral("composite: startWriting failed: ") + error.description());
        return;
    }
    m_startPts = t;
    m_started = true;
    Diag::log(QStringLiteral("composite: started %1x%2, bubble %3 %4px, audio=%5")
                  .arg(m_settings.size.width)
                  .arg(m_settings.size.height)
                  .arg(rawValue(m_settings.spot))
                  .arg(m_geometry.diameter)
                  .arg(m_audio ? QStringLiteral("true") : QStringLiteral("false")));
}

void CompositeSession::emit(int64_t t, bool force, const VideoFrame *screenOverride)
{
    if (!m_started || (!force && m_finishing))
        return;
    const VideoFrame *picture = screenOverride ? screenOverride : (m_screen ? &*m_screen : nullptr);
    if (!picture)
        return;
    if (m_lastPts) {
        const int64_t dt = t - *m_lastPts;
        if (dt <= 0 || (!force && dt < kMinSpacingUs)) {
            ++m_tooClose;
            return;
        }
    }
    if (m_failure)
        return;
    try {
        m_output.writePicture(*picture, t - m_startPts);
    } catch (const RecorderError &error) {
        failed(error.description());
        return;
    }
    m_lastPts = t;
    ++m_framesWritten;
}

void CompositeSession::failed(const QString &text)
{
    // Nothing more goes into a file the encoder gave up on; stop reports it.
    Diag::log(QStringLiteral("composite: writing failed: ") + text);
    m_failure = text;
}

std::optional<QString> CompositeSession::finish()
{
    m_finishing = true;
    if (!m_started) {
        m_output.cancel();
        return QStringLiteral("Nothing was recorded: the screen never sent a picture.");
    }
    if (m_screen) {
        const VideoFrame last = *m_screen;
        emit(m_nowUs(), true, &last);
    }
    std::optional<QString> error = m_failure;
    try {
        if (!error)
            m_output.finish(m_lastPts.value_or(m_startPts) - m_startPts + kLastPictureUs);
    } catch (const RecorderError &failure) {
        error = failure.description();
    } catch (const std::exception &) {
        error = QStringLiteral("The video couldn't be saved.");
    }
    Diag::log(QStringLiteral("composite: finished, %1 frames, %2 audio buffers, status %3")
                  .arg(m_framesWritten)
                  .arg(m_audioWritten)
                  .arg(error ? 3 : 2));
    return error;
}
