#pragma once

#include "platform/capture/XcbHandles.h"

#include <QRect>

#include <cstdint>

// Draws on the test X server: solid windows the recorder should see, and the
// pointer put where a test wants it.
class X11TestScene {
public:
    X11TestScene()
    {
        int screenNumber = 0;
        m_connection = connectToX(&screenNumber);
        if (!m_connection)
            return;
        m_screen = screenOf(m_connection.get(), screenNumber);
        m_gc = xcb_generate_id(m_connection.get());
        xcb_create_gc(m_connection.get(), m_gc, m_screen->root, 0, nullptr);
    }
    bool ok() const { return m_connection != nullptr; }

    // A borderless window filled with 0xRRGGBB; returns its id.
    uint32_t addWindow(const QRect &rect, uint32_t rgb)
    {
        xcb_connection_t *c = m_connection.get();
        const uint32_t window = xcb_generate_id(c);
        const uint32_t values[] = {rgb, 1}; // background pixel, override-redirect
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window, m_screen->root, int16_t(rect.x()), int16_t(rect.y()),
                          uint16_t(rect.width()), uint16_t(rect.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          m_screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
        xcb_map_window(c, window);
        fill(window, QRect(0, 0, rect.width(), rect.height()), rgb);
        return window;
    }
    void fill(uint32_t window, const QRect &rect, uint32_t rgb)
    {
        xcb_change_gc(m_connection.get(), m_gc, XCB_GC_FOREGROUND, &rgb);
        const xcb_rectangle_t r{int16_t(rect.x()), int16_t(rect.y()), uint16_t(rect.width()), uint16_t(rect.height())};
        xcb_poly_fill_rectangle(m_connection.get(), window, m_gc, 1, &r);
        sync();
    }
    void movePointer(int x, int y)
    {
        xcb_warp_pointer(m_connection.get(), XCB_NONE, m_screen->root, 0, 0, 0, 0, int16_t(x), int16_t(y));
        sync();
    }
    // Shows a solid wallpaper on the root and publishes it as wallpaper
    // setters do (_XROOTPMAP_ID); it lives as long as this scene.
    void setWallpaper(uint32_t rgb)
    {
        xcb_connection_t *c = m_connection.get();
        const xcb_pixmap_t pixmap = xcb_generate_id(c);
        xcb_create_pixmap(c, m_screen->root_depth, pixmap, m_screen->root, 64, 64);
        fill(pixmap, QRect(0, 0, 64, 64), rgb);
        xcb_change_window_attributes(c, m_screen->root, XCB_CW_BACK_PIXMAP, &pixmap);
        xcb_clear_area(c, 0, m_screen->root, 0, 0, 0, 0);
        const char name[] = "_XROOTPMAP_ID";
        XcbReply<xcb_intern_atom_reply_t> atom(
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof name - 1, name), nullptr));
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, m_screen->root, atom->atom, XCB_ATOM_PIXMAP, 32, 1, &pixmap);
        sync();
    }

private:
    // A round trip: what was sent is drawn once it returns.
    void sync()
    {
        xcb_connection_t *c = m_connection.get();
        XcbReply<xcb_get_input_focus_reply_t> reply(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    }
    XcbConnection m_connection; // closing it destroys every window this scene made
    xcb_screen_t *m_screen = nullptr;
    uint32_t m_gc = 0;
};
