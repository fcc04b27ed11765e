#pragma once

#include "platform/capture/XcbHandles.h"

#include <QRect>

#include <cstdint>

// Draws on the test X server: solid windows the recorder should see, and the
// pointer put where a test wants it.
class X11TestScene {
public:
    X11TestScene();
    bool ok() const { return m_connection != nullptr; }

    // A borderless window filled with 0xRRGGBB; returns its id.
    uint32_t addWindow(const QRect &rect, uint32_t rgb);
    void fill(uint32_t window, const QRect &rect, uint32_t rgb);
    void movePointer(int x, int y);
    // Shows a solid wallpaper on the root and publishes it as wallpaper
    // setters do (_XROOTPMAP_ID); it lives as long as this scene.
    void setWallpaper(uint32_t rgb);

private:
    void sync();
    XcbConnection m_connection; // closing it destroys every window this scene made
    xcb_screen_t *m_screen = nullptr;
    uint32_t m_gc = 0;
};
