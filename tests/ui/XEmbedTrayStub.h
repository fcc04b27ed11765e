#pragma once

// A minimal XEmbed tray manager for Xvfb, which has none: it owns the
// _NET_SYSTEM_TRAY_S0 selection, announces itself, and takes in the icon
// windows that ask to dock. libxcb is already in the process (Qt's xcb
// platform loaded it); its few functions are looked up at run time so the
// tests need no extra link dependency.

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <dlfcn.h>
#include <xcb/xcb.h>

#include <cstring>

class XEmbedTrayStub {
public:
    XEmbedTrayStub()
    {
        m_lib = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
        if (!m_lib || !resolve())
            return;
        m_connection = f.connect(nullptr, nullptr);
        if (!m_connection || f.connection_has_error(m_connection))
            return;
        xcb_screen_t *screen = f.setup_roots_iterator(f.get_setup(m_connection)).data;
        m_window = f.generate_id(m_connection);
        f.create_window(m_connection, XCB_COPY_FROM_PARENT, m_window, screen->root, 0, 0, 1, 1, 0,
                        XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
        const xcb_atom_t selection = atom("_NET_SYSTEM_TRAY_S0");
        f.set_selection_owner(m_connection, m_window, selection, XCB_CURRENT_TIME);

        xcb_client_message_event_t manager;
        std::memset(&manager, 0, sizeof manager);
        manager.response_type = XCB_CLIENT_MESSAGE;
        manager.format = 32;
        manager.window = screen->root;
        manager.type = atom("MANAGER");
        manager.data.data32[0] = XCB_CURRENT_TIME;
        manager.data.data32[1] = selection;
        manager.data.data32[2] = m_window;
        f.send_event(m_connection, 0, screen->root, XCB_EVENT_MASK_STRUCTURE_NOTIFY,
                     reinterpret_cast<const char *>(&manager));
        f.flush(m_connection);
        m_opcode = atom("_NET_SYSTEM_TRAY_OPCODE");
        m_ready = true;

        QObject::connect(&m_poll, &QTimer::timeout, [this] { answerDockRequests(); });
        m_poll.start(5);
    }
    ~XEmbedTrayStub()
    {
        m_poll.stop();
        if (m_connection)
            f.disconnect(m_connection);
    }
    XEmbedTrayStub(const XEmbedTrayStub &) = delete;
    XEmbedTrayStub &operator=(const XEmbedTrayStub &) = delete;

    bool ready() const { return m_ready; }
    int docked() const { return m_docked; }

private:
    struct Functions {
        decltype(&xcb_connect) connect;
        decltype(&xcb_disconnect) disconnect;
        decltype(&xcb_connection_has_error) connection_has_error;
        decltype(&xcb_get_setup) get_setup;
        decltype(&xcb_setup_roots_iterator) setup_roots_iterator;
        decltype(&xcb_generate_id) generate_id;
        decltype(&xcb_create_window) create_window;
        decltype(&xcb_intern_atom) intern_atom;
        decltype(&xcb_intern_atom_reply) intern_atom_reply;
        decltype(&xcb_set_selection_owner) set_selection_owner;
        decltype(&xcb_send_event) send_event;
        decltype(&xcb_flush) flush;
        decltype(&xcb_poll_for_event) poll_for_event;
        decltype(&xcb_reparent_window) reparent_window;
        decltype(&xcb_map_window) map_window;
    } f{};

    template <typename T> bool load(T &slot, const char *name)
    {
        slot = reinterpret_cast<T>(dlsym(m_lib, name));
        return slot != nullptr;
    }
    bool resolve()
    {
        return load(f.connect, "xcb_connect") && load(f.disconnect, "xcb_disconnect") &&
               load(f.connection_has_error, "xcb_connection_has_error") && load(f.get_setup, "xcb_get_setup") &&
               load(f.setup_roots_iterator, "xcb_setup_roots_iterator") && load(f.generate_id, "xcb_generate_id") &&
               load(f.create_window, "xcb_create_window") && load(f.intern_atom, "xcb_intern_atom") &&
               load(f.intern_atom_reply, "xcb_intern_atom_reply") &&
               load(f.set_selection_owner, "xcb_set_selection_owner") && load(f.send_event, "xcb_send_event") &&
               load(f.flush, "xcb_flush") && load(f.poll_for_event, "xcb_poll_for_event") &&
               load(f.reparent_window, "xcb_reparent_window") && load(f.map_window, "xcb_map_window");
    }
    xcb_atom_t atom(const char *name)
    {
        const auto cookie = f.intern_atom(m_connection, 0, static_cast<uint16_t>(std::strlen(name)), name);
        xcb_intern_atom_reply_t *reply = f.intern_atom_reply(m_connection, cookie, nullptr);
        const xcb_atom_t value = reply ? reply->atom : XCB_ATOM_NONE;
        std::free(reply);
        return value;
    }
    void answerDockRequests()
    {
        while (xcb_generic_event_t *event = f.poll_for_event(m_connection)) {
            if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
                const auto *message = reinterpret_cast<xcb_client_message_event_t *>(event);
                // Opcode 0 is SYSTEM_TRAY_REQUEST_DOCK; the icon window is in data32[2].
                if (message->type == m_opcode && message->data.data32[1] == 0) {
                    f.reparent_window(m_connection, message->data.data32[2], m_window, 0, 0);
                    f.map_window(m_connection, message->data.data32[2]);
                    f.flush(m_connection);
                    ++m_docked;
                }
            }
            std::free(event);
        }
    }

    void *m_lib = nullptr;
    xcb_connection_t *m_connection = nullptr;
    xcb_window_t m_window = 0;
    xcb_atom_t m_opcode = XCB_ATOM_NONE;
    bool m_ready = false;
    int m_docked = 0;
    QTimer m_poll;
};
