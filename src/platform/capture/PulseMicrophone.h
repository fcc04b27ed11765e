#pragma once

#include "platform/capture/ScreenCapture.h"
#include "platform/capture/SoundStamps.h"

#include <pulse/pulseaudio.h>

// The default PulseAudio source (also PipeWire's Pulse server), read as
// 48 kHz float in 10 ms fragments. Time stamps come from the server's latency
// report, so sound lines up with pictures stamped on the same clock.
class PulseMicrophone final : public Microphone {
public:
    // Throws RecorderError when the sound server cannot be reached or has no
    // source.
    PulseMicrophone();
    ~PulseMicrophone() override;

    int sampleRate() const override { return m_sampleRate; }
    int channels() const override { return m_channels; }
    void start(std::function<void(AudioChunk)> onChunk, CaptureFailureHandler onFailure) override;
    void stop() override;

private:
    void open();
    static void onContextState(pa_context *context, void *self);
    static void onStreamState(pa_stream *stream, void *self);
    static void onReadable(pa_stream *stream, size_t bytes, void *self);
    static void onServerInfo(pa_context *context, const pa_server_info *info, void *self);
    static void onSourceInfo(pa_context *context, const pa_source_info *info, int eol, void *self);
    void waitFor(pa_operation *operation);
    [[noreturn]] void refuse(const QString &reason);
    void teardown();

    pa_threaded_mainloop *m_loop = nullptr;
    pa_context *m_context = nullptr;
    pa_stream *m_stream = nullptr;
    QByteArray m_sourceName;
    int m_sourceChannels = 0;
    int m_sampleRate = 48000;
    int m_channels = 2;
    bool m_running = false; // guarded by the loop's lock
    SoundStamps m_stamps;
    std::function<void(AudioChunk)> m_onChunk;
    CaptureFailureHandler m_onFailure;
};
