#include "platform/capture/X11LeftOutPainter.h"

#include "base/Diag.h"
#include "platform/LeftOutWindows.h"

#include <xcb/composite.h>

#include <QSet>

#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstring>

namespace {
using XcbPicture = XcbResource<&xcb_render_free_picture>;

template <typename Reply, typename Cookie, typename Fetch>
XcbReply<Reply> answer(xcb_connection_t *c, Fetch fetch, Cookie cookie)
{
    xcb_generic_error_t *error = nullptr;
    XcbReply<Reply> reply(fetch(c, cookie, &error));
    std::free(error); // a window that went meanwhile: no reply, nothing to say
    return reply;
}

xcb_rectangle_t rectangle(const QRect &r)
{
    return {int16_t(r.x()), int16_t(r.y()), uint16_t(r.width()), uint16_t(r.height())};
}
} // namespace

// Shared memory the composed image is read into, without passing the socket.
struct X11LeftOutPainter::SharedImage {
    xcb_connection_t *connection = nullptr;
    uint8_t *address = nullptr;
    xcb_shm_seg_t seg = 0;
    ~SharedImage()
    {
        if (!address)
            return;
        xcb_shm_detach(connection, seg);
        shmdt(address);
    }
    static std::unique_ptr<SharedImage> make(xcb_connection_t *c, std::size_t bytes)
    {
        const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
        if (id < 0)
            return nullptr;
        void *address = shmat(id, nullptr, 0);
        auto shared = std::make_unique<SharedImage>();
        shared->connection = c;
        shared->seg = xcb_generate_id(c);
        XcbReply<xcb_generic_error_t> error(
            xcb_request_check(c, xcb_shm_attach_checked(c, shared->seg, uint32_t(id), 0)));
        shmctl(id, IPC_RMID, nullptr); // freed once both sides detach
        if (address == reinterpret_cast<void *>(-1))
            return nullptr;
        shared->address = static_cast<uint8_t *>(address);
        return error ? nullptr : std::move(shared);
    }
};

X11LeftOutPainter::X11LeftOutPainter(xcb_connection_t *connection, xcb_screen_t *screen, const QRect &monitor)
    : m_connection(connection), m_root(screen->root), m_rootDepth(screen->root_depth),
      m_rootVisual(screen->root_visual), m_monitor(monitor)
{
    xcb_connection_t *c = m_connection;
    const xcb_query_extension_reply_t *composite = xcb_get_extension_data(c, &xcb_composite_id);
    const xcb_query_extension_reply_t *render = xcb_get_extension_data(c, &xcb_render_id);
    if (composite && composite->present && render && render->present) {
        // Naming a window's pixmap needs Composite 0.2.
        auto compositeVersion = answer<xcb_composite_query_version_reply_t>(c, xcb_composite_query_version_reply,
                                                                            xcb_composite_query_version(c, 0, 4));
        auto renderVersion = answer<xcb_render_query_version_reply_t>(c, xcb_render_query_version_reply,
                                                                      xcb_render_query_version(c, 0, 11));
        m_available = compositeVersion && renderVersion &&
                      (compositeVersion->major_version > 0 || compositeVersion->minor_version >= 2) && findFormats();
    }
    if (!m_available) {
        Diag::log(QStringLiteral("recording: the X server lacks Composite or Render, so our own windows stay in the "
                                 "video"));
        return;
    }
    static const char kWallpaper[] = "_XROOTPMAP_ID";
    auto atom = answer<xcb_intern_atom_reply_t>(c, xcb_intern_atom_reply,
                                                xcb_intern_atom(c, 0, sizeof kWallpaper - 1, kWallpaper));
    m_wallpaperAtom = atom ? atom->atom : xcb_atom_t(XCB_ATOM_NONE);
    // Windows mapped, moved, restacked or gone, and a new wallpaper.
    const uint32_t events = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(c, m_root, XCB_CW_EVENT_MASK, &events);
}

X11LeftOutPainter::~X11LeftOutPainter()
{
    m_watched.clear();
    m_scratchPicture.reset();
    m_scratch.reset();
    m_shared.reset();
    redirect(false);
    xcb_flush(m_connection);
}

bool X11LeftOutPainter::findFormats()
{
    xcb_connection_t *c = m_connection;
    auto formats = answer<xcb_render_query_pict_formats_reply_t>(c, xcb_render_query_pict_formats_reply,
                                                                 xcb_render_query_pict_formats(c));
    if (!formats)
        return false;
    QHash<uint32_t, bool> alphaOf;
    for (auto it = xcb_render_query_pict_formats_formats_iterator(formats.get()); it.rem;
         xcb_render_pictforminfo_next(&it))
        alphaOf.insert(it.data->id, it.data->direct.alpha_mask != 0);
    for (auto screens = xcb_render_query_pict_formats_screens_iterator(formats.get()); screens.rem;
         xcb_render_pictscreen_next(&screens)) {
        for (auto depths = xcb_render_pictscreen_depths_iterator(screens.data); depths.rem;
             xcb_render_pictdepth_next(&depths)) {
            for (auto visuals = xcb_render_pictdepth_visuals_iterator(depths.data); visuals.rem;
                 xcb_render_pictvisual_next(&visuals))
                m_visualFormats.insert(visuals.data->visual,
                                       {visuals.data->format, alphaOf.value(visuals.data->format)});
        }
    }
    m_rootFormat = m_visualFormats.value(m_rootVisual).first;
    return m_rootFormat != 0;
}

void X11LeftOutPainter::redirect(bool on)
{
    if (on == m_redirected || !m_available)
        return;
    // Automatic: the server still draws the screen itself; every top-level
    // window just gets a pixmap of its own that can be read while covered.
    if (on)
        xcb_composite_redirect_subwindows(m_connection, m_root, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
    else
        xcb_composite_unredirect_subwindows(m_connection, m_root, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
    m_redirected = on;
}

void X11LeftOutPainter::noteEvent(const xcb_generic_event_t &event)
{
    switch (event.response_type & 0x7f) {
    case XCB_CREATE_NOTIFY:
    case XCB_DESTROY_NOTIFY:
    case XCB_MAP_NOTIFY:
    case XCB_UNMAP_NOTIFY:
    case XCB_CONFIGURE_NOTIFY:
    case XCB_REPARENT_NOTIFY:
    case XCB_CIRCULATE_NOTIFY:
    case XCB_GRAVITY_NOTIFY:
        m_stale = true;
        break;
    case XCB_PROPERTY_NOTIFY:
        m_stale |= reinterpret_cast<const xcb_property_notify_event_t &>(event).atom == m_wallpaperAtom;
        break;
    default:
        break;
    }
}

QRegion X11LeftOutPainter::refresh()
{
    const quint64 generation = LeftOutWindows::instance().generation();
    if (!m_available || (!m_stale && generation == m_generation))
        return m_region;
    m_stale = false;
    m_generation = generation;
    m_region = look();
    return m_region;
}

QRegion X11LeftOutPainter::look()
{
    m_leftOut.clear();
    m_stack.clear();
    const QList<quint32> ids = LeftOutWindows::instance().ids();
    redirect(!ids.isEmpty());
    if (ids.isEmpty()) {
        m_watched.clear();
        return {};
    }

    // A reparenting window manager puts a frame around each window: what
    // stacks among the root's children is the top-level ancestor. The
    // root's own questions go out with the first of ours.
    xcb_connection_t *c = m_connection;
    const auto treeCookie = xcb_query_tree(c, m_root);
    const auto wallpaperCookie = xcb_get_property(c, 0, m_root, m_wallpaperAtom, XCB_ATOM_PIXMAP, 0, 1);
    QSet<xcb_window_t> ours;
    std::vector<xcb_window_t> pending(ids.cbegin(), ids.cend());
    for (int depth = 0; depth < 8 && !pending.empty(); ++depth) {
        std::vector<xcb_query_tree_cookie_t> cookies;
        for (xcb_window_t window : pending)
            cookies.push_back(xcb_query_tree(c, window));
        std::vector<xcb_window_t> parents;
        for (std::size_t i = 0; i < pending.size(); ++i) {
            auto tree = answer<xcb_query_tree_reply_t>(c, xcb_query_tree_reply, cookies[i]);
            if (!tree || tree->parent == XCB_NONE)
                continue;
            if (tree->parent == m_root)
                ours.insert(pending[i]);
            else
                parents.push_back(tree->parent);
        }
        pending = std::move(parents);
    }
    listWindows(treeCookie, wallpaperCookie);
    if (ours.isEmpty()) {
        m_stack.clear();
        m_watched.clear();
        return {};
    }

    QRegion region;
    std::vector<Window> others;
    for (const Window &window : m_stack) {
        if (!ours.contains(window.id)) {
            others.push_back(window);
            continue;
        }
        const QRect visible = window.outer.intersected(m_monitor);
        if (!visible.isEmpty()) {
            m_leftOut.push_back(visible);
            region += visible;
        }
    }
    m_stack = std::move(others);
    watchOverlapping(region);
    return region;
}

void X11LeftOutPainter::watchOverlapping(const QRegion &region)
{
    QSet<xcb_window_t> overlapping;
    for (const Window &window : m_stack) {
        if (!region.intersects(window.outer))
            continue;
        overlapping.insert(window.id);
        if (!m_watched.count(window.id)) {
            XcbResource<&xcb_damage_destroy> damage(m_connection, xcb_generate_id(m_connection));
            xcb_damage_create(m_connection, damage.get(), window.id, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
            m_watched.emplace(window.id, std::move(damage));
        }
    }
    for (auto it = m_watched.begin(); it != m_watched.end();)
        it = overlapping.contains(it->first) ? std::next(it) : m_watched.erase(it);
}

bool X11LeftOutPainter::changedBeneath(const xcb_damage_notify_event_t &event)
{
    const auto watched = m_watched.find(event.drawable);
    if (watched == m_watched.end() || watched->second.get() != event.damage)
        return false;
    // Re-arms the notice for this window's next drawing.
    xcb_damage_subtract(m_connection, event.damage, XCB_NONE, XCB_NONE);
    const QRect area(event.geometry.x + event.area.x, event.geometry.y + event.area.y, event.area.width,
                     event.area.height);
    for (const QRect &rect : m_leftOut) {
        if (rect.intersects(area))
            return true;
    }
    return false;
}

void X11LeftOutPainter::listWindows(xcb_query_tree_cookie_t treeCookie, xcb_get_property_cookie_t wallpaperCookie)
{
    xcb_connection_t *c = m_connection;
    auto tree = answer<xcb_query_tree_reply_t>(c, xcb_query_tree_reply, treeCookie);
    auto wallpaper = answer<xcb_get_property_reply_t>(c, xcb_get_property_reply, wallpaperCookie);
    m_wallpaper = wallpaper && wallpaper->format == 32 && xcb_get_property_value_length(wallpaper.get()) == 4
                      ? *static_cast<const xcb_pixmap_t *>(xcb_get_property_value(wallpaper.get()))
                      : XCB_NONE;
    if (!tree)
        return;
    // Bottom to top; all questions go out before the first answer is read.
    const xcb_window_t *children = xcb_query_tree_children(tree.get());
    const int count = xcb_query_tree_children_length(tree.get());
    std::vector<xcb_get_window_attributes_cookie_t> attributeCookies;
    std::vector<xcb_get_geometry_cookie_t> geometryCookies;
    for (int i = 0; i < count; ++i) {
        attributeCookies.push_back(xcb_get_window_attributes(c, children[i]));
        geometryCookies.push_back(xcb_get_geometry(c, children[i]));
    }
    for (int i = 0; i < count; ++i) {
        auto attributes =
            answer<xcb_get_window_attributes_reply_t>(c, xcb_get_window_attributes_reply, attributeCookies[i]);
        auto geometry = answer<xcb_get_geometry_reply_t>(c, xcb_get_geometry_reply, geometryCookies[i]);
        if (!attributes || !geometry || attributes->map_state != XCB_MAP_STATE_VIEWABLE ||
            attributes->_class != XCB_WINDOW_CLASS_INPUT_OUTPUT)
            continue;
        const auto format = m_visualFormats.constFind(attributes->visual);
        if (format == m_visualFormats.cend())
            continue;
        const int border = geometry->border_width;
        const QRect outer(geometry->x, geometry->y, geometry->width + 2 * border, geometry->height + 2 * border);
        if (outer.intersects(m_monitor))
            m_stack.push_back(Window{children[i], outer, format->first, format->second});
    }
}

void X11LeftOutPainter::ensureScratch(QSize size)
{
    if (m_scratch.get() && m_scratchSize.width() >= size.width() && m_scratchSize.height() >= size.height())
        return;
    xcb_connection_t *c = m_connection;
    m_scratchSize = m_scratchSize.expandedTo(size);
    m_scratchPicture.reset();
    m_scratch = XcbPixmap(c, xcb_generate_id(c));
    xcb_create_pixmap(c, m_rootDepth, m_scratch.get(), m_root, uint16_t(m_scratchSize.width()),
                      uint16_t(m_scratchSize.height()));
    m_scratchPicture = XcbPicture(c, xcb_generate_id(c));
    xcb_render_create_picture(c, m_scratchPicture.get(), m_scratch.get(), m_rootFormat, 0, nullptr);
    m_shared.reset();
    m_shared = SharedImage::make(c, std::size_t(m_scratchSize.width()) * m_scratchSize.height() * 4);
}

void X11LeftOutPainter::prepare()
{
    // All rectangles are composed one under the other in one scratch pixmap,
    // then read back in one image.
    m_composed = QSize(0, 0);
    for (const QRect &rect : m_leftOut)
        m_composed = QSize(std::max(m_composed.width(), rect.width()), m_composed.height() + rect.height());
    if (m_composed.isEmpty())
        return;
    ensureScratch(m_composed);
    if (!m_shared) {
        m_composed = QSize(0, 0);
        return;
    }
    int top = 0;
    for (const QRect &rect : m_leftOut) {
        compose(rect, top);
        top += rect.height();
    }
    m_image = xcb_shm_get_image(m_connection, m_scratch.get(), 0, 0, uint16_t(m_composed.width()),
                                uint16_t(m_composed.height()), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, m_shared->seg, 0);
}

void X11LeftOutPainter::paint(uint8_t *pixels, int strideBytes)
{
    if (m_composed.isEmpty())
        return;
    auto image = answer<xcb_shm_get_image_reply_t>(m_connection, xcb_shm_get_image_reply, m_image);
    const std::size_t imageStride = std::size_t(m_composed.width()) * 4;
    m_composed = QSize(0, 0);
    if (!image)
        return;
    const uint8_t *source = m_shared->address;
    for (const QRect &rect : m_leftOut) {
        uint8_t *target =
            pixels + std::ptrdiff_t(rect.y() - m_monitor.y()) * strideBytes + (rect.x() - m_monitor.x()) * 4;
        for (int y = 0; y < rect.height(); ++y, source += imageStride)
            std::memcpy(target + std::ptrdiff_t(y) * strideBytes, source, std::size_t(rect.width()) * 4);
    }
}

void X11LeftOutPainter::compose(const QRect &rect, int top)
{
    xcb_connection_t *c = m_connection;
    const xcb_rectangle_t whole = rectangle(QRect(QPoint(0, top), rect.size()));
    xcb_render_fill_rectangles(c, XCB_RENDER_PICT_OP_SRC, m_scratchPicture.get(), {0, 0, 0, 0xffff}, 1, &whole);
    if (m_wallpaper != XCB_NONE) {
        // A wallpaper of another depth fails here, leaving black.
        const uint32_t repeat = XCB_RENDER_REPEAT_NORMAL;
        XcbPicture wallpaper(c, xcb_generate_id(c));
        xcb_render_create_picture(c, wallpaper.get(), m_wallpaper, m_rootFormat, XCB_RENDER_CP_REPEAT, &repeat);
        xcb_render_composite(c, XCB_RENDER_PICT_OP_SRC, wallpaper.get(), XCB_NONE, m_scratchPicture.get(),
                             int16_t(rect.x()), int16_t(rect.y()), 0, 0, 0, int16_t(top), uint16_t(rect.width()),
                             uint16_t(rect.height()));
    }
    for (const Window &window : m_stack) {
        const QRect part = rect.intersected(window.outer);
        if (part.isEmpty())
            continue;
        XcbPixmap contents(c, xcb_generate_id(c));
        xcb_composite_name_window_pixmap(c, window.id, contents.get());
        XcbPicture picture(c, xcb_generate_id(c));
        xcb_render_create_picture(c, picture.get(), contents.get(), window.format, 0, nullptr);
        xcb_render_composite(c, window.alpha ? XCB_RENDER_PICT_OP_OVER : XCB_RENDER_PICT_OP_SRC, picture.get(),
                             XCB_NONE, m_scratchPicture.get(), int16_t(part.x() - window.outer.x()),
                             int16_t(part.y() - window.outer.y()), 0, 0, int16_t(part.x() - rect.x()),
                             int16_t(top + part.y() - rect.y()), uint16_t(part.width()), uint16_t(part.height()));
    }
}
