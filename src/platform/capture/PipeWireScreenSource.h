#pragma once

#include "platform/capture/FrameBufferPool.h"

#include "platform/capture/FramePacer.h"
#include "platform/capture/PipeWireHandles.h"
#include "platform/capture/ScreenCapture.h"

#include <QString>

#include <spa/utils/hook.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>

struct spa_pod;
struct spa_source;

// Consumes one PipeWire video node, such as the screen a desktop portal
// shares, on PipeWire's own thread loop. Frames come only when the producer
// sends one (a compositor does so when the screen changed), 30 a second on
// average at most: a faster producer's newest picture waits for a slot.
// BGRx and BGRA are accepted and both treated as B,G,R,X; shared memory, or
// linear DMA-BUF that can be mapped, since we read pixels with the CPU.
class PipeWireScreenSource final : public ScreenSource {
public:
    // `remote` is a connection to PipeWire (the portal's remote, or a socket
    // to a daemon); the source owns it. Waits up to 5 s for PipeWire to list
    // its objects, so call it off the main thread. Throws RecorderError when
    // PipeWire cannot be reached or does not list the node.
    PipeWireScreenSource(UniqueFd remote, uint32_t nodeId);
    ~PipeWireScreenSource() override;

    // Connects to the node and waits, at most `timeout`, until it streams
    // (a format agreed) or fails; throws RecorderError with the reason. Call
    // it off the main thread, before start(). Without it, start() connects
    // and any failure goes to its handler.
    void open(std::chrono::milliseconds timeout);
    void start(std::function<void(VideoFrame)> onFrame, CaptureFailureHandler onFailure) override;
    void stop() override;
    int64_t framesCaptured() const override { return m_framesCaptured.load(); }

    // Pictures the producer sent that were replaced by a newer one before
    // their slot came. Logged at stop.
    int64_t framesSkipped() const { return m_framesSkipped.load(); }

private:
    struct Listeners;
    static const spa_pod *buildFormat(void *buffer, size_t size, bool linearDmaBuf);
    void onParamChanged(uint32_t id, const spa_pod *param);
    void onProcess();
    void onStateChanged(int state, const char *error);
    void onTimer();
    void deliverOrWait();
    void deliverPending(int64_t nowUs);
    void fail(const QString &text);
    bool connectStream();
    // Failures count from open() or start() on.
    bool watching() const { return m_running || m_opening; }

    // Stops the loop thread before any PipeWire object below is released,
    // also when the constructor gives up half way.
    struct LoopRunning {
        pw_thread_loop *loop = nullptr;
        ~LoopRunning()
        {
            if (loop)
                pw_thread_loop_stop(loop);
        }
    };

    std::unique_ptr<Listeners> m_listeners; // outlives the objects they listen to
    uint32_t m_nodeId = 0;
    PwThreadLoop m_loop;
    PwContext m_context;
    PwCore m_core;
    PwRegistry m_registry;
    PwStream m_stream;
    spa_source *m_timer = nullptr;
    LoopRunning m_loopRunning;

    // Loop thread only, after start.
    int m_width = 0;
    int m_height = 0;
    std::shared_ptr<FrameBufferPool> m_pool;
    std::shared_ptr<uint8_t[]> m_pending; // newest picture not yet delivered
    FramePacer m_pacer;
    bool m_nodeSeen = false;
    bool m_synced = false;
    bool m_coreLost = false;
    bool m_connected = false;
    bool m_opening = false;
    bool m_streaming = false;
    std::optional<QString> m_openFailure; // before start(): told by open() or at start()

    std::function<void(VideoFrame)> m_onFrame;
    CaptureFailureHandler m_onFailure;
    std::atomic<bool> m_failed{false};
    std::atomic<bool> m_running{false};
    std::atomic<int64_t> m_framesCaptured{0};
    std::atomic<int64_t> m_framesSkipped{0};
};
