#include "platform/capture/X11ScreenSource.h"

#include "platform/capture/RecorderError.h"

#include <xcb/damage.h>
#include <xcb/shm.h>
#include <xcb/xfixes.h>

#include <sys/ipc.h>
#include <sys/shm.h>

#include <chrono>
#include <cstring>

namespace {
constexpr auto kFrameInterval = std::chrono::microseconds(1000000 / 30);

[[noreturn]] void refuse(const QString &text)
{
    throw RecorderError::failed(text);
}
} // namespace

// A System V shared memory segment attached to the X server.
struct X11ScreenSource::SharedSegment {
    int id = -1;
    uint8_t *address = nullptr;
    xcb_shm_seg_t seg = 0;
    ~SharedSegment()
    {
        if (address)
            shmdt(address);
    }
};

X11ScreenSource::X11ScreenSource(const DisplayInfo &display) : m_rect(display.pixelRect)
{
    int screenNumber = 0;
    m_connection = connectToX(&screenNumber);
    if (!m_connection)
        refuse(QStringLiteral("No X display can be reached, so the screen cannot be recorded."));
    xcb_connection_t *c = m_connection.get();
    xcb_screen_t *screen = screenOf(c, screenNumber);
    if (!screen)
        refuse(QStringLiteral("The X display has no screen to record."));
    m_root = screen->root;
    if (m_rect.isEmpty() || m_rect.right() >= screen->width_in_pixels || m_rect.bottom() >= screen->height_in_pixels)
        refuse(QStringLiteral("The display to record is no longer on the X screen."));

    XcbReply<xcb_shm_query_version_reply_t> shm(xcb_shm_query_version_reply(c, xcb_shm_query_version(c), nullptr));
    if (!shm)
        refuse(QStringLiteral("The X server does not offer shared memory (MIT-SHM), which screen recording needs."));
    const xcb_query_extension_reply_t *damage = xcb_get_extension_data(c, &xcb_damage_id);
    const xcb_query_extension_reply_t *xfixes = xcb_get_extension_data(c, &xcb_xfixes_id);
    if (!damage || !damage->present)
        refuse(QStringLiteral("The X server does not offer the DAMAGE extension, which screen recording needs."));
    if (!xfixes || !xfixes->present)
        refuse(QStringLiteral("The X server does not offer the XFIXES extension, which screen recording needs."));
    XcbReply<xcb_xfixes_query_version_reply_t> fixesVersion(
        xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 4, 0), nullptr));
    XcbReply<xcb_damage_query_version_reply_t> damageVersion(
        xcb_damage_query_version_reply(c, xcb_damage_query_version(c, 1, 1), nullptr));
    if (!fixesVersion || !damageVersion)
        refuse(QStringLiteral("The X server's DAMAGE or XFIXES extension did not answer."));
    m_damageEvent = damage->first_event;
    m_xfixesEvent = xfixes->first_event;

    const std::size_t bytes = std::size_t(m_rect.width()) * m_rect.height() * 4;
    m_segment = std::make_unique<SharedSegment>();
    m_segment->id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (m_segment->id < 0)
        refuse(QStringLiteral("No shared memory could be set aside for screen pictures."));
    void *address = shmat(m_segment->id, nullptr, 0);
    m_segment->address = address == reinterpret_cast<void *>(-1) ? nullptr : static_cast<uint8_t *>(address);
    m_segment->seg = xcb_generate_id(c);
    XcbReply<xcb_generic_error_t> attachError(
        xcb_request_check(c, xcb_shm_attach_checked(c, m_segment->seg, uint32_t(m_segment->id), 0)));
    // Marked for removal now: the kernel frees it once both sides detach,
    // even if this process dies.
    shmctl(m_segment->id, IPC_RMID, nullptr);
    if (!m_segment->address || attachError)
        refuse(QStringLiteral("The X server could not share memory with Mivra Video (is it on another machine?)."));

    m_pool = std::make_shared<FrameBufferPool>();
    m_pool->bytes = bytes;
    m_damage = xcb_generate_id(c);
    xcb_damage_create(c, m_damage, m_root, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
    m_region = xcb_generate_id(c);
    xcb_xfixes_create_region(c, m_region, 0, nullptr);
    xcb_xfixes_select_cursor_input(c, m_root, XCB_XFIXES_CURSOR_NOTIFY_MASK_DISPLAY_CURSOR);
    m_leftOut = std::make_unique<X11LeftOutPainter>(c, screen, m_rect);
    xcb_flush(c);
}

X11ScreenSource::~X11ScreenSource()
{
    stop();
    m_leftOut.reset();
    if (m_connection && m_segment && m_segment->address) {
        xcb_damage_destroy(m_connection.get(), m_damage);
        xcb_xfixes_destroy_region(m_connection.get(), m_region);
        xcb_shm_detach(m_connection.get(), m_segment->seg);
        xcb_flush(m_connection.get());
    }
}

void X11ScreenSource::start(std::function<void(VideoFrame)> onFrame, CaptureFailureHandler onFailure)
{
    m_onFrame = std::move(onFrame);
    m_onFailure = std::move(onFailure);
    m_stopping = false;
    m_thread = std::thread([this] { run(); });
}

void X11ScreenSource::stop()
{
    m_stopping = true;
    if (m_thread.joinable())
        m_thread.join();
}

void X11ScreenSource::fail(const QString &text)
{
    if (m_onFailure)
        m_onFailure(text);
}

void X11ScreenSource::run()
{
    auto next = std::chrono::steady_clock::now();
    bool first = true;
    while (!m_stopping) {
        bool damaged = false;
        bool cursorChanged = first;
        bool cursorMoved = false;
        bool changedBeneath = false;
        if (!pollEvents(damaged, cursorChanged, changedBeneath) || !updateCursor(cursorChanged, cursorMoved)) {
            fail(QStringLiteral("The connection to the X display was lost during the recording."));
            return;
        }
        QRegion leftOut;
        if (first || damaged || cursorMoved || changedBeneath)
            leftOut = m_leftOut->refresh();
        if (damaged)
            damaged = monitorWasDamaged(leftOut);
        if (first || damaged || cursorMoved || changedBeneath) {
            if (!leftOut.isEmpty())
                m_leftOut->prepare();
            int64_t timestampUs = 0;
            if (!grab(timestampUs)) {
                fail(
                    QStringLiteral("The X server stopped handing out pictures of the display (did its size change?)."));
                return;
            }
            auto pixels = FrameBufferPool::take(m_pool);
            const int stride = m_rect.width() * 4;
            std::memcpy(pixels.get(), m_segment->address, std::size_t(stride) * m_rect.height());
            m_leftOut->paint(pixels.get(), stride);
            drawCursor(pixels.get(), stride);
            ++m_framesCaptured;
            first = false;
            m_onFrame(VideoFrame{std::move(pixels), m_rect.width(), m_rect.height(), stride, timestampUs});
        }
        next += kFrameInterval;
        const auto now = std::chrono::steady_clock::now();
        if (next < now)
            next = now; // fell behind: no burst to catch up
        std::this_thread::sleep_until(next);
    }
}

bool X11ScreenSource::pollEvents(bool &damaged, bool &cursorChanged, bool &changedBeneath)
{
    xcb_connection_t *c = m_connection.get();
    while (xcb_generic_event_t *raw = xcb_poll_for_event(c)) {
        XcbReply<xcb_generic_event_t> event(raw);
        m_leftOut->noteEvent(*event);
        const uint8_t type = event->response_type & 0x7f;
        if (type == m_damageEvent + XCB_DAMAGE_NOTIFY) {
            const auto *notice = reinterpret_cast<const xcb_damage_notify_event_t *>(event.get());
            if (notice->damage == m_damage)
                damaged = true;
            else if (m_leftOut->changedBeneath(*notice))
                changedBeneath = true;
        } else if (type == m_xfixesEvent + XCB_XFIXES_CURSOR_NOTIFY)
            cursorChanged = true;
    }
    return !xcb_connection_has_error(c);
}

bool X11ScreenSource::monitorWasDamaged(const QRegion &leftOut)
{
    // Takes the damage collected so far (re-arming the notification) and
    // looks whether any of it touches the recorded monitor outside our own
    // windows (the bubble's preview redraws 30 times a second).
    xcb_connection_t *c = m_connection.get();
    xcb_damage_subtract(c, m_damage, XCB_NONE, m_region);
    XcbReply<xcb_xfixes_fetch_region_reply_t> region(
        xcb_xfixes_fetch_region_reply(c, xcb_xfixes_fetch_region(c, m_region), nullptr));
    if (!region)
        return true;
    const xcb_rectangle_t *rects = xcb_xfixes_fetch_region_rectangles(region.get());
    const int count = xcb_xfixes_fetch_region_rectangles_length(region.get());
    for (int i = 0; i < count; ++i) {
        const QRect damage = m_rect.intersected(QRect(rects[i].x, rects[i].y, rects[i].width, rects[i].height));
        if (!damage.isEmpty() && !QRegion(damage).subtracted(leftOut).isEmpty())
            return true;
    }
    return false;
}

bool X11ScreenSource::updateCursor(bool shapeChanged, bool &cursorMoved)
{
    // Where the pointer is costs a small round trip each frame; its picture
    // is fetched only when XFixes says it changed.
    xcb_connection_t *c = m_connection.get();
    int x = 0, y = 0;
    XcbReply<xcb_xfixes_get_cursor_image_reply_t> image;
    if (shapeChanged) {
        image.reset(xcb_xfixes_get_cursor_image_reply(c, xcb_xfixes_get_cursor_image(c), nullptr));
        if (!image)
            return !xcb_connection_has_error(c);
        m_cursor.hotX = image->xhot;
        m_cursor.hotY = image->yhot;
        x = image->x - image->xhot;
        y = image->y - image->yhot;
    } else {
        XcbReply<xcb_query_pointer_reply_t> pointer(xcb_query_pointer_reply(c, xcb_query_pointer(c, m_root), nullptr));
        if (!pointer)
            return !xcb_connection_has_error(c);
        x = pointer->root_x - m_cursor.hotX;
        y = pointer->root_y - m_cursor.hotY;
    }
    const QRect before(m_cursor.x, m_cursor.y, m_cursor.width, m_cursor.height);
    if (image) {
        m_cursor.width = image->width;
        m_cursor.height = image->height;
        const uint32_t *argb = xcb_xfixes_get_cursor_image_cursor_image(image.get());
        m_cursor.argb.assign(argb, argb + std::size_t(image->width) * image->height);
    }
    m_cursor.x = x;
    m_cursor.y = y;
    const QRect after(x, y, m_cursor.width, m_cursor.height);
    if (before != after || image)
        cursorMoved = m_rect.intersects(before) || m_rect.intersects(after);
    return true;
}

bool X11ScreenSource::grab(int64_t &timestampUs)
{
    xcb_connection_t *c = m_connection.get();
    XcbReply<xcb_generic_error_t> error;
    xcb_generic_error_t *rawError = nullptr;
    XcbReply<xcb_shm_get_image_reply_t> reply(xcb_shm_get_image_reply(
        c,
        xcb_shm_get_image(c, m_root, int16_t(m_rect.x()), int16_t(m_rect.y()), uint16_t(m_rect.width()),
                          uint16_t(m_rect.height()), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, m_segment->seg, 0),
        &rawError));
    error.reset(rawError);
    timestampUs = monotonicNowUs();
    // 24- and 32-bit depths both store 4 bytes a pixel: B,G,R,X.
    return reply && !error && (reply->depth == 24 || reply->depth == 32);
}

void X11ScreenSource::drawCursor(uint8_t *pixels, int strideBytes) const
{
    const QRect cursor(m_cursor.x, m_cursor.y, m_cursor.width, m_cursor.height);
    const QRect visible = cursor.intersected(m_rect);
    if (visible.isEmpty() || m_cursor.argb.empty())
        return;
    for (int y = visible.top(); y <= visible.bottom(); ++y) {
        const uint32_t *src =
            &m_cursor.argb[std::size_t(y - cursor.y()) * cursor.width() + (visible.left() - cursor.x())];
        uint8_t *dst = pixels + std::ptrdiff_t(y - m_rect.y()) * strideBytes + (visible.left() - m_rect.x()) * 4;
        for (int x = 0; x < visible.width(); ++x, ++src, dst += 4) {
            const uint32_t p = *src; // premultiplied A,R,G,B
            const uint32_t a = p >> 24;
            if (a == 0)
                continue;
            const uint32_t keep = 255 - a;
            dst[0] = uint8_t((p & 0xff) + (dst[0] * keep + 127) / 255);
            dst[1] = uint8_t(((p >> 8) & 0xff) + (dst[1] * keep + 127) / 255);
            dst[2] = uint8_t(((p >> 16) & 0xff) + (dst[2] * keep + 127) / 255);
        }
    }
}
