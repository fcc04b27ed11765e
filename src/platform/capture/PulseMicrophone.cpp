#include "platform/capture/PulseMicrophone.h"

#include "platform/capture/RecorderError.h"

#include <cstdlib>
#include <cstring>

namespace {
// Holds the loop's lock for a scope.
class LoopLock {
public:
    explicit LoopLock(pa_threaded_mainloop *loop) : m_loop(loop) { pa_threaded_mainloop_lock(m_loop); }
    ~LoopLock() { pa_threaded_mainloop_unlock(m_loop); }
    LoopLock(const LoopLock &) = delete;
    LoopLock &operator=(const LoopLock &) = delete;

private:
    pa_threaded_mainloop *m_loop;
};
} // namespace

PulseMicrophone::PulseMicrophone()
{
    // A constructor that throws gets no destructor call.
    try {
        open();
    } catch (...) {
        teardown();
        throw;
    }
}

void PulseMicrophone::open()
{
    m_loop = pa_threaded_mainloop_new();
    if (!m_loop)
        refuse(QStringLiteral("the sound library could not start"));
    m_context = pa_context_new(pa_threaded_mainloop_get_api(m_loop), "Mivra Video");
    pa_context_set_state_callback(m_context, &PulseMicrophone::onContextState, this);
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        pa_threaded_mainloop_start(m_loop) < 0)
        refuse(QStringLiteral("the sound server (PulseAudio or PipeWire) cannot be reached (%1)")
                   .arg(QString::fromUtf8(pa_strerror(pa_context_errno(m_context)))));

    LoopLock lock(m_loop);
    for (;;) {
        const pa_context_state_t state = pa_context_get_state(m_context);
        if (state == PA_CONTEXT_READY)
            break;
        if (!PA_CONTEXT_IS_GOOD(state))
            refuse(QStringLiteral("the sound server (PulseAudio or PipeWire) cannot be reached (%1)")
                       .arg(QString::fromUtf8(pa_strerror(pa_context_errno(m_context)))));
        pa_threaded_mainloop_wait(m_loop);
    }
    waitFor(pa_context_get_server_info(m_context, &PulseMicrophone::onServerInfo, this));
    if (m_sourceName.isEmpty())
        refuse(QStringLiteral("the sound server has no microphone"));
    waitFor(
        pa_context_get_source_info_by_name(m_context, m_sourceName.constData(), &PulseMicrophone::onSourceInfo, this));
    if (m_sourceChannels <= 0)
        refuse(
            QStringLiteral("the sound server's microphone \"%1\" is not there").arg(QString::fromUtf8(m_sourceName)));
    m_channels = m_sourceChannels > 1 ? 2 : 1;

    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, uint32_t(m_sampleRate), uint8_t(m_channels)};
    m_stream = pa_stream_new(m_context, "Microphone", &spec, nullptr);
    if (!m_stream)
        refuse(QString::fromUtf8(pa_strerror(pa_context_errno(m_context))));
    pa_stream_set_state_callback(m_stream, &PulseMicrophone::onStreamState, this);
    pa_stream_set_read_callback(m_stream, &PulseMicrophone::onReadable, this);
    pa_buffer_attr attr;
    std::memset(&attr, 0xff, sizeof attr);
    attr.fragsize = uint32_t(pa_usec_to_bytes(10000, &spec));
    const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE |
                                         PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_START_CORKED);
    if (pa_stream_connect_record(m_stream, m_sourceName.constData(), &attr, flags) < 0)
        refuse(QString::fromUtf8(pa_strerror(pa_context_errno(m_context))));
    for (;;) {
        const pa_stream_state_t state = pa_stream_get_state(m_stream);
        if (state == PA_STREAM_READY)
            break;
        if (!PA_STREAM_IS_GOOD(state))
            refuse(QStringLiteral("the microphone could not be opened (%1)")
                       .arg(QString::fromUtf8(pa_strerror(pa_context_errno(m_context)))));
        pa_threaded_mainloop_wait(m_loop);
    }
}

PulseMicrophone::~PulseMicrophone()
{
    teardown();
}

void PulseMicrophone::teardown()
{
    if (!m_loop)
        return;
    {
        LoopLock lock(m_loop);
        m_running = false;
        if (m_stream) {
            pa_stream_set_read_callback(m_stream, nullptr, nullptr);
            pa_stream_set_state_callback(m_stream, nullptr, nullptr);
            pa_stream_disconnect(m_stream);
            pa_stream_unref(m_stream);
            m_stream = nullptr;
        }
        if (m_context) {
            pa_context_set_state_callback(m_context, nullptr, nullptr);
            pa_context_disconnect(m_context);
            pa_context_unref(m_context);
            m_context = nullptr;
        }
    }
    pa_threaded_mainloop_stop(m_loop);
    pa_threaded_mainloop_free(m_loop);
    m_loop = nullptr;
}

void PulseMicrophone::refuse(const QString &reason)
{
    throw RecorderError::failed(QStringLiteral("The microphone cannot be recorded: %1.").arg(reason));
}

void PulseMicrophone::waitFor(pa_operation *operation)
{
    if (!operation)
        return;
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING)
        pa_threaded_mainloop_wait(m_loop);
    pa_operation_unref(operation);
}

void PulseMicrophone::start(std::function<void(AudioChunk)> onChunk, CaptureFailureHandler onFailure)
{
    LoopLock lock(m_loop);
    m_onChunk = std::move(onChunk);
    m_onFailure = std::move(onFailure);
    m_running = true;
    if (pa_operation *op = pa_stream_cork(m_stream, 0, nullptr, nullptr))
        pa_operation_unref(op);
}

void PulseMicrophone::stop()
{
    if (!m_loop)
        return;
    // Callbacks run under the lock, so none runs once this returns.
    LoopLock lock(m_loop);
    m_running = false;
    if (m_stream) {
        if (pa_operation *op = pa_stream_cork(m_stream, 1, nullptr, nullptr))
            pa_operation_unref(op);
    }
}

void PulseMicrophone::onContextState(pa_context *, void *self)
{
    auto *mic = static_cast<PulseMicrophone *>(self);
    pa_threaded_mainloop_signal(mic->m_loop, 0);
    if (mic->m_running && !PA_CONTEXT_IS_GOOD(pa_context_get_state(mic->m_context)) && mic->m_onFailure) {
        mic->m_running = false;
        mic->m_onFailure(QStringLiteral("The connection to the sound server was lost during the recording."));
    }
}

void PulseMicrophone::onStreamState(pa_stream *stream, void *self)
{
    auto *mic = static_cast<PulseMicrophone *>(self);
    pa_threaded_mainloop_signal(mic->m_loop, 0);
    if (mic->m_running && !PA_STREAM_IS_GOOD(pa_stream_get_state(stream)) && mic->m_onFailure) {
        mic->m_running = false;
        mic->m_onFailure(QStringLiteral("The microphone stopped delivering sound during the recording."));
    }
}

void PulseMicrophone::onServerInfo(pa_context *, const pa_server_info *info, void *self)
{
    auto *mic = static_cast<PulseMicrophone *>(self);
    if (info && info->default_source_name)
        mic->m_sourceName = QByteArray(info->default_source_name);
    pa_threaded_mainloop_signal(mic->m_loop, 0);
}

void PulseMicrophone::onSourceInfo(pa_context *, const pa_source_info *info, int eol, void *self)
{
    auto *mic = static_cast<PulseMicrophone *>(self);
    if (!eol && info)
        mic->m_sourceChannels = info->sample_spec.channels;
    pa_threaded_mainloop_signal(mic->m_loop, 0);
}

void PulseMicrophone::onReadable(pa_stream *stream, size_t, void *self)
{
    auto *mic = static_cast<PulseMicrophone *>(self);
    while (pa_stream_readable_size(stream) > 0) {
        const void *data = nullptr;
        size_t bytes = 0;
        if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0)
            return;
        // The latency covers this fragment too, as it is not dropped yet: its
        // first sample was heard `latency` ago.
        pa_usec_t latencyUs = 0;
        int negative = 0;
        const bool timed = pa_stream_get_latency(stream, &latencyUs, &negative) >= 0;
        const int64_t nowUs = monotonicNowUs();
        if (data && mic->m_running && mic->m_onChunk) {
            AudioChunk chunk;
            chunk.channels = mic->m_channels;
            chunk.sampleRate = mic->m_sampleRate;
            const auto *samples = static_cast<const float *>(data);
            chunk.samples.assign(samples, samples + bytes / sizeof(float));
            const int64_t heardUs = soundHeardAtUs(nowUs, timed, latencyUs, negative != 0);
            chunk.timestampUs = mic->m_stamps.stampFor(heardUs, nowUs, chunk.frameCount(), mic->m_sampleRate);
            mic->m_onChunk(std::move(chunk));
        }
        // A hole (null data) is skipped: the next chunk's time stamp shows
        // the gap and the writer fills it with silence.
        pa_stream_drop(stream);
    }
}
