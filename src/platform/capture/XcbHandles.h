#pragma once

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

// xcb replies and errors are malloc'ed by xcb and freed with free().
struct XcbFree {
    void operator()(void *p) const { std::free(p); }
};
template <typename T> using XcbReply = std::unique_ptr<T, XcbFree>;

struct XcbDisconnect {
    void operator()(xcb_connection_t *c) const { xcb_disconnect(c); }
};
using XcbConnection = std::unique_ptr<xcb_connection_t, XcbDisconnect>;

// Opens the display named by DISPLAY; null when there is none or it fails.
inline XcbConnection connectToX(int *screenNumber)
{
    XcbConnection connection(xcb_connect(nullptr, screenNumber));
    if (connection && xcb_connection_has_error(connection.get()))
        connection.reset();
    return connection;
}

inline xcb_screen_t *screenOf(xcb_connection_t *connection, int screenNumber)
{
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; it.rem && i < screenNumber; ++i)
        xcb_screen_next(&it);
    return it.rem ? it.data : nullptr;
}
