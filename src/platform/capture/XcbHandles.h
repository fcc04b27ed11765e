#pragma once

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <utility>

// xcb replies and errors are malloc'ed by xcb and freed with free().
struct XcbFree {
    void operator()(void *p) const { std::free(p); }
};
template <typename T> using XcbReply = std::unique_ptr<T, XcbFree>;

struct XcbDisconnect {
    void operator()(xcb_connection_t *c) const { xcb_disconnect(c); }
};
using XcbConnection = std::unique_ptr<xcb_connection_t, XcbDisconnect>;

// A server-side resource (pixmap, picture, ...) freed by `Free` when it goes.
template <auto Free> class XcbResource {
public:
    XcbResource() = default;
    XcbResource(xcb_connection_t *connection, uint32_t id) : m_connection(connection), m_id(id) {}
    XcbResource(XcbResource &&other) noexcept : m_connection(other.m_connection), m_id(std::exchange(other.m_id, 0)) {}
    XcbResource &operator=(XcbResource &&other) noexcept
    {
        if (this != &other) {
            reset();
            m_connection = other.m_connection;
            m_id = std::exchange(other.m_id, 0);
        }
        return *this;
    }
    ~XcbResource() { reset(); }
    uint32_t get() const { return m_id; }
    void reset()
    {
        if (m_id)
            Free(m_connection, m_id);
        m_id = 0;
    }

private:
    xcb_connection_t *m_connection = nullptr;
    uint32_t m_id = 0;
};
using XcbPixmap = XcbResource<&xcb_free_pixmap>;

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
