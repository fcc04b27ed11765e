#include "platform/AllDesktops.h"

#include <QGuiApplication>
#include <QWindow>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

constexpr quint32 kAllDesktops = 0xFFFFFFFF;
constexpr quint32 kNetWmStateAdd = 1;
constexpr const char *kAppliedProperty = "_mivra_all_desktops";

xcb_atom_t atom(xcb_connection_t *connection, const char *name)
{
    const auto cookie = xcb_intern_atom(connection, 0, static_cast<uint16_t>(strlen(name)), name);
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(connection, cookie, nullptr), &std::free);
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

xcb_window_t rootOf(xcb_connection_t *connection, xcb_window_t window)
{
    const std::unique_ptr<xcb_get_geometry_reply_t, decltype(&std::free)> reply(
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr), &std::free);
    return reply ? reply->root : xcb_window_t{XCB_WINDOW_NONE};
}

bool hasAtom(xcb_connection_t *connection, xcb_window_t window, xcb_atom_t property, xcb_atom_t wanted)
{
    const std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(connection, xcb_get_property(connection, 0, window, property, XCB_ATOM_ATOM, 0, 1024),
                               nullptr),
        &std::free);
    if (!reply || reply->format != 32)
        return false;
    const auto *first = static_cast<const xcb_atom_t *>(xcb_get_property_value(reply.get()));
    const auto *last = first + reply->value_len;
    return std::find(first, last, wanted) != last;
}

bool isMapped(xcb_connection_t *connection, xcb_window_t window)
{
    const std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> reply(
        xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, window), nullptr),
        &std::free);
    return reply && reply->map_state != XCB_MAP_STATE_UNMAPPED;
}

void askWindowManager(xcb_connection_t *connection, xcb_window_t root, xcb_window_t window, xcb_atom_t type,
                      quint32 first, quint32 second)
{
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    event.data.data32[0] = first;
    event.data.data32[1] = second;
    event.data.data32[3] = 1; // source: a normal application
    xcb_send_event(connection, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&event));
}

void apply(QWindow *window)
{
    // The offscreen platform answers to the X11 interface without a connection.
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return;
    const auto id = static_cast<xcb_window_t>(window->winId());
    const xcb_atom_t desktop = atom(connection, "_NET_WM_DESKTOP");
    const xcb_atom_t state = atom(connection, "_NET_WM_STATE");
    const xcb_atom_t sticky = atom(connection, "_NET_WM_STATE_STICKY");
    if (desktop == XCB_ATOM_NONE || state == XCB_ATOM_NONE || sticky == XCB_ATOM_NONE)
        return;
    // A window manager reads these when the window is mapped; without one they
    // still tell other clients where the window belongs.
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, desktop, XCB_ATOM_CARDINAL, 32, 1, &kAllDesktops);
    if (!isMapped(connection, id)) {
        // Appended: Qt merges its own states into whatever is there when it maps.
        if (!hasAtom(connection, id, state, sticky))
            xcb_change_property(connection, XCB_PROP_MODE_APPEND, id, state, XCB_ATOM_ATOM, 32, 1, &sticky);
    } else if (const xcb_window_t root = rootOf(connection, id); root != XCB_WINDOW_NONE) {
        // A mapped window's hints belong to the window manager: ask it.
        askWindowManager(connection, root, id, desktop, kAllDesktops, 0);
        askWindowManager(connection, root, id, state, kNetWmStateAdd, sticky);
    }
    xcb_flush(connection);
}

} // namespace

void showOnAllDesktops(QWindow *window)
{
    if (!window || !qGuiApp->nativeInterface<QNativeInterface::QX11Application>())
        return;
    apply(window);
    if (window->property(kAppliedProperty).toBool())
        return;
    window->setProperty(kAppliedProperty, true);
    QObject::connect(window, &QWindow::visibleChanged, window, [window](bool visible) {
        if (visible)
            apply(window);
    });
}
