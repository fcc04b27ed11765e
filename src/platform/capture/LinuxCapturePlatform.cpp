#include "platform/capture/LinuxCapturePlatform.h"

#include "platform/capture/PulseMicrophone.h"
#include "platform/capture/RecorderError.h"
#include "platform/capture/X11ScreenSource.h"
#include "platform/capture/XcbHandles.h"

#include <QGuiApplication>
#include <QScreen>
#include <QThread>

#include <xcb/randr.h>

namespace {

// Qt names its X11 screens after the RandR output; its pixel ratio is the
// desktop scale of that monitor. Main thread only.
QHash<QString, double> screenScales()
{
    QHash<QString, double> scales;
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return scales;
    for (QScreen *screen : QGuiApplication::screens())
        scales.insert(screen->name(), screen->devicePixelRatio() > 0 ? screen->devicePixelRatio() : 1.0);
    return scales;
}

bool onMainThread()
{
    return QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
}

QString atomName(xcb_connection_t *c, xcb_atom_t atom)
{
    XcbReply<xcb_get_atom_name_reply_t> reply(xcb_get_atom_name_reply(c, xcb_get_atom_name(c, atom), nullptr));
    if (!reply)
        return QString();
    return QString::fromLatin1(xcb_get_atom_name_name(reply.get()), xcb_get_atom_name_name_length(reply.get()));
}

QString outputName(xcb_connection_t *c, xcb_randr_output_t output)
{
    XcbReply<xcb_randr_get_output_info_reply_t> info(
        xcb_randr_get_output_info_reply(c, xcb_randr_get_output_info(c, output, XCB_CURRENT_TIME), nullptr));
    if (!info)
        return QString();
    return QString::fromUtf8(reinterpret_cast<const char *>(xcb_randr_get_output_info_name(info.get())),
                             xcb_randr_get_output_info_name_length(info.get()));
}

DisplayInfo describe(quint32 id, const QString &name, const QRect &pixels, double scale)
{
    return DisplayInfo{id, name, pixels, pixels.width() / scale, pixels.height() / scale};
}

} // namespace

QCoro::Task<> LinuxCapturePlatform::prepare()
{
    QHash<QString, double> scales = screenScales();
    std::lock_guard lock(m_mutex);
    m_scales = std::move(scales);
    co_return;
}

double LinuxCapturePlatform::desktopScaleOf(const QString &name)
{
    if (onMainThread()) {
        QHash<QString, double> scales = screenScales();
        std::lock_guard lock(m_mutex);
        m_scales = std::move(scales);
    }
    std::lock_guard lock(m_mutex);
    return m_scales.value(name, 1.0);
}

QList<DisplayInfo> LinuxCapturePlatform::displays()
{
    int screenNumber = 0;
    XcbConnection connection = connectToX(&screenNumber);
    if (!connection)
        throw RecorderError::failed(QStringLiteral("No X display can be reached, so the screen cannot be recorded."));
    xcb_connection_t *c = connection.get();
    xcb_screen_t *screen = screenOf(c, screenNumber);
    if (!screen)
        throw RecorderError::noDisplay();

    QList<DisplayInfo> list;
    const xcb_query_extension_reply_t *randr = xcb_get_extension_data(c, &xcb_randr_id);
    XcbReply<xcb_randr_query_version_reply_t> version;
    if (randr && randr->present)
        version.reset(xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr));
    if (version && (version->major_version > 1 || version->minor_version >= 5)) {
        XcbReply<xcb_randr_get_monitors_reply_t> monitors(
            xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, screen->root, 1), nullptr));
        if (monitors) {
            for (auto it = xcb_randr_get_monitors_monitors_iterator(monitors.get()); it.rem;
                 xcb_randr_monitor_info_next(&it)) {
                const xcb_randr_monitor_info_t *monitor = it.data;
                const QRect pixels(monitor->x, monitor->y, monitor->width, monitor->height);
                const xcb_randr_output_t *outputs = xcb_randr_monitor_info_outputs(monitor);
                if (xcb_randr_monitor_info_outputs_length(monitor) > 0) {
                    const QString name = outputName(c, outputs[0]);
                    list << describe(outputs[0], name, pixels, desktopScaleOf(name));
                } else {
                    const QString name = atomName(c, monitor->name);
                    list << describe(monitor->name, name, pixels, desktopScaleOf(name));
                }
            }
        }
    }
    // Without RandR monitors the whole X screen is the one display.
    if (list.isEmpty())
        list << describe(screen->root, QString(), QRect(0, 0, screen->width_in_pixels, screen->height_in_pixels), 1.0);
    return list;
}

std::optional<quint32> LinuxCapturePlatform::displayIdOf(QScreen *screen, const QList<DisplayInfo> &all)
{
    if (!screen)
        return std::nullopt;
    for (const DisplayInfo &display : all) {
        if (!display.name.isEmpty() && display.name == screen->name())
            return display.id;
    }
    // Qt geometry is in device-independent pixels; its top-left corner in
    // device pixels is where the monitor sits on the X screen.
    const QPoint origin = (QPointF(screen->geometry().topLeft()) * screen->devicePixelRatio()).toPoint();
    for (const DisplayInfo &display : all) {
        if (display.pixelRect.topLeft() == origin)
            return display.id;
    }
    return std::nullopt;
}

std::unique_ptr<ScreenSource> LinuxCapturePlatform::openScreen(const DisplayInfo &display)
{
    return std::make_unique<X11ScreenSource>(display);
}

std::unique_ptr<Microphone> LinuxCapturePlatform::openMicrophone()
{
    return std::make_unique<PulseMicrophone>();
}
