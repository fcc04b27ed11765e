#pragma once

#include "platform/capture/FrameBufferPool.h"
#include "platform/capture/ScreenCapture.h"
#include "platform/capture/X11LeftOutPainter.h"
#include "platform/capture/XcbHandles.h"

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

// Grabs one RandR monitor of the X screen through MIT-SHM. Damage tells when
// anything was drawn and XFixes supplies the cursor, which is drawn into the
// picture; a quiet screen costs one small round trip per frame interval.
// Our own windows listed in LeftOutWindows are painted over with what lies
// beneath them, and drawing inside them alone is no change.
class X11ScreenSource final : public ScreenSource {
public:
    // Throws RecorderError when the X server or one of its extensions is
    // missing.
    explicit X11ScreenSource(const DisplayInfo &display);
    ~X11ScreenSource() override;

    void start(std::function<void(VideoFrame)> onFrame, CaptureFailureHandler onFailure) override;
    void stop() override;
    int64_t framesCaptured() const override { return m_framesCaptured.load(); }

private:
    struct SharedSegment;
    void run();
    bool pollEvents(bool &damaged, bool &cursorChanged, bool &changedBeneath);
    bool monitorWasDamaged(const QRegion &leftOut);
    bool updateCursor(bool shapeChanged, bool &cursorMoved);
    bool grab(int64_t &timestampUs);
    void drawCursor(uint8_t *pixels, int strideBytes) const;
    void fail(const QString &text);

    QRect m_rect;
    XcbConnection m_connection;
    xcb_window_t m_root = 0;
    std::unique_ptr<SharedSegment> m_segment;
    std::unique_ptr<X11LeftOutPainter> m_leftOut;
    std::shared_ptr<FrameBufferPool> m_pool;
    uint32_t m_damage = 0;
    uint32_t m_region = 0;
    uint8_t m_damageEvent = 0;
    uint8_t m_xfixesEvent = 0;

    struct Cursor {
        int x = 0, y = 0; // top-left on the X screen
        int width = 0, height = 0;
        int hotX = 0, hotY = 0;
        std::vector<uint32_t> argb; // premultiplied
    } m_cursor;

    std::function<void(VideoFrame)> m_onFrame;
    CaptureFailureHandler m_onFailure;
    std::thread m_thread;
    std::atomic<bool> m_stopping{false};
    std::atomic<int64_t> m_framesCaptured{0};
};
