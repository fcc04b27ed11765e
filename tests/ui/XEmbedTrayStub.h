#pragma once

// A minimal XEmbed tray manager for Xvfb, which has none: it owns the
// _NET_SYSTEM_TRAY_S0 selection, announces itself, and takes in the icon
// windows that ask to dock.

#include <QObject>
#include <QTimer>

#include <xcb/xcb.h>

#include <cstring>

class XEmbedTrayStub {
public:
    XEmbedTrayStub()
    {
        m_connection = xcb_connect(nullptr, nullptr);
        if (!m_connection || xcb_connection_has_error(m_connection))
            return;
        xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
        m_window = xcb_generate_id(m_connection);
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_window, screen->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
        const xcb_atom_t selection = atom("_NET_SYSTEM_TRAY_S0");
        xcb_set_selection_owner(m_connection, m_window, selection, XCB_CURRENT_TIME);

        xcb_client_message_event_t manager{};
        manager.response_type = XCB_CLIENT_MESSAGE;
        manager.format = 32;
        manager.window = screen->root;
        manager.type = atom("MANAGER");
        manager.data.data32[0] = XCB_CURRENT_TIME;
        manager.data.data32[1] = selection;
        manager.data.data32[2] = m_window;
        xcb_send_event(m_connection, 0, screen->root, XCB_EVENT_MASK_STRUCTURE_NOTIFY,
                       reinterpret_cast<const char *>(&manager));
        xcb_flush(m_connection);
        m_opcode = atom("_NET_SYSTEM_TRAY_OPCODE");

        QObject::connect(&m_poll, &QTimer::timeout, [this] { answerDockRequests(); });
        m_poll.start(5);
    }
    ~XEmbedTrayStub()
    {
        if (m_connection)
            xcb_disconnect(m_connection);
    }

    bool ready() const { return m_opcode != XCB_ATOM_NONE; }
    int docked() const { return m_docked; }

private:
    xcb_atom_t atom(const char *name)
    {
        const auto cookie = xcb_intern_atom(m_connection, 0, static_cast<uint16_t>(std::strlen(name)), name);
        xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(m_connection, cookie, nullptr);
        const xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return value;
    }
    void answerDockRequests()
    {
        while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
            if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
                const auto *message = reinterpret_cast<xcb_client_message_event_t *>(event);
                // Opcode 0 is SYSTEM_TRAY_REQUEST_DOCK; the icon window is in data32[2].
                if (message->type == m_opcode && message->data.data32[1] == 0) {
                    xcb_reparent_window(m_connection, message->data.data32[2], m_window, 0, 0);
                    xcb_map_window(m_connection, message->data.data32[2]);
                    xcb_flush(m_connection);
                    ++m_docked;
                }
            }
            std::free(event);
        }
    }

    xcb_connection_t *m_connection = nullptr;
    xcb_window_t m_window = 0;
    xcb_atom_t m_opcode = XCB_ATOM_NONE;
    int m_docked = 0;
    QTimer m_poll;
};
