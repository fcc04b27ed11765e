#pragma once

#include "platform/capture/XcbHandles.h"

#include <xcb/damage.h>
#include <xcb/render.h>
#include <xcb/shm.h>

#include <QHash>
#include <QRect>
#include <QRegion>

#include <memory>
#include <unordered_map>
#include <vector>

// Leaves our own windows (LeftOutWindows) out of X11 pictures. X11 cannot
// hide a window from a capture, so the rectangles they cover are painted
// over with what the screen would show without them: every other top-level
// window overlapping there, bottom to top, over the desktop's wallpaper (as
// wallpaper setters publish it in _XROOTPMAP_ID; black when none is).
// Window contents come from Composite: the root's subwindows are
// redirected automatically (invisible to the user) only while the set holds
// a window, so a recording without our windows costs the X server nothing.
// Used on the capture thread, on the capture's own connection.
class X11LeftOutPainter {
public:
    X11LeftOutPainter(xcb_connection_t *connection, xcb_screen_t *screen, const QRect &monitor);
    ~X11LeftOutPainter();
    X11LeftOutPainter(const X11LeftOutPainter &) = delete;
    X11LeftOutPainter &operator=(const X11LeftOutPainter &) = delete;

    // False when the X server lacks Composite or Render: our windows then
    // stay in the pictures.
    bool available() const { return m_available; }

    // Where our mapped windows are now, in screen coordinates, clipped to
    // the monitor. Asks the server again only when the set or the root's
    // windows changed (noteEvent), so a quiet desktop costs no round trip.
    QRegion refresh();
    // Every event of the connection goes through here.
    void noteEvent(const xcb_generic_event_t &event);
    // Composes what lies beneath the rectangles the last refresh() found
    // and asks for it; called before the screen is grabbed, so that both
    // answers come back in one round trip.
    void prepare();
    // Paints it over them in the grabbed picture of the monitor (B,G,R,X).
    void paint(uint8_t *pixels, int strideBytes);
    // Drawing in a window where ours covers it changes nothing on the
    // screen, so the root's damage misses it: the windows overlapping ours
    // are watched one by one. True when `event` is such a change.
    bool changedBeneath(const xcb_damage_notify_event_t &event);

private:
    struct Window {
        xcb_window_t id = 0;
        QRect outer; // border included, screen coordinates
        uint32_t format = 0;
        bool alpha = false;
    };
    QRegion look();
    void redirect(bool on);
    void watchOverlapping(const QRegion &region);
    bool findFormats();
    void listWindows(xcb_query_tree_cookie_t treeCookie, xcb_get_property_cookie_t wallpaperCookie);
    void compose(const QRect &rect, int top);
    void ensureScratch(QSize size);

    xcb_connection_t *m_connection;
    xcb_window_t m_root;
    uint8_t m_rootDepth;
    xcb_visualid_t m_rootVisual;
    QRect m_monitor;
    bool m_available = false;
    bool m_redirected = false;
    bool m_stale = true;
    quint64 m_generation = 0;
    QRegion m_region;
    uint32_t m_rootFormat = 0;
    QHash<xcb_visualid_t, std::pair<uint32_t, bool>> m_visualFormats; // format, has alpha
    xcb_atom_t m_wallpaperAtom = 0;

    std::vector<Window> m_stack;  // other mapped windows, bottom to top
    std::vector<QRect> m_leftOut; // clipped to the monitor
    xcb_pixmap_t m_wallpaper = 0;

    std::unordered_map<xcb_window_t, XcbResource<&xcb_damage_destroy>> m_watched;
    XcbPixmap m_scratch;
    XcbResource<&xcb_render_free_picture> m_scratchPicture;
    QSize m_scratchSize;
    QSize m_composed{0, 0}; // asked for, not yet painted
    struct SharedImage;
    std::unique_ptr<SharedImage> m_shared; // where the composed image lands
    xcb_shm_get_image_cookie_t m_image{};
};
