#include "platform/capture/WaylandCapturePlatform.h"

#include "base/Diag.h"
#include "platform/capture/PipeWireScreenSource.h"
#include "platform/capture/PulseMicrophone.h"
#include "platform/capture/RecorderError.h"

#include <QGuiApplication>
#include <QPointer>
#include <QScreen>

namespace {
const QString kNotShared = QStringLiteral("The desktop has not shared a screen with Mivra Video yet.");
constexpr std::chrono::seconds kStreamStartTimeout{5};

// Closes the portal session when the recording's screen source goes; the
// source is released on a worker thread, the session belongs to the main one.
class SessionLease {
public:
    SessionLease(PortalScreenCast *portal, QString session) : m_portal(portal), m_session(std::move(session)) {}
    ~SessionLease()
    {
        QMetaObject::invokeMethod(
            m_portal.data(),
            [portal = m_portal, session = m_session] {
                if (portal)
                    portal->close(session);
            },
            Qt::QueuedConnection);
    }
    SessionLease(const SessionLease &) = delete;
    SessionLease &operator=(const SessionLease &) = delete;

private:
    QPointer<PortalScreenCast> m_portal;
    QString m_session;
};

class SharedScreenSource final : public ScreenSource {
public:
    SharedScreenSource(std::unique_ptr<SessionLease> lease, std::unique_ptr<PipeWireScreenSource> source)
        : m_lease(std::move(lease)), m_source(std::move(source))
    {
    }
    void start(std::function<void(VideoFrame)> onFrame, CaptureFailureHandler onFailure) override
    {
        m_source->start(std::move(onFrame), std::move(onFailure));
    }
    void stop() override { m_source->stop(); }
    int64_t framesCaptured() const override { return m_source->framesCaptured(); }

private:
    std::unique_ptr<SessionLease> m_lease; // released last: the stream ends before the session
    std::unique_ptr<PipeWireScreenSource> m_source;
};
} // namespace

WaylandCapturePlatform::WaylandCapturePlatform(std::shared_ptr<PortalScreenCast> portal) : m_portal(std::move(portal))
{
}

WaylandCapturePlatform::WaylandCapturePlatform(std::shared_ptr<PreferenceStore> preferences)
    : WaylandCapturePlatform(std::make_shared<PortalScreenCast>(std::move(preferences), PortalScreenCast::Options{}))
{
}

WaylandCapturePlatform::~WaylandCapturePlatform()
{
    std::lock_guard lock(m_mutex);
    if (m_prepared)
        m_portal->close(m_prepared->sessionHandle);
}

QCoro::Task<> WaylandCapturePlatform::prepare()
{
    // A session shared for an earlier start that never opened it goes first.
    std::optional<PortalStream> unused;
    {
        std::lock_guard lock(m_mutex);
        unused.swap(m_prepared);
    }
    if (unused)
        m_portal->close(unused->sessionHandle);

    PortalStream stream = co_await m_portal->open();
    if (stream.sizePoints.isEmpty()) {
        // Older portals do not say; the frames are scaled to whatever this gives.
        const QScreen *screen =
            qobject_cast<QGuiApplication *>(QCoreApplication::instance()) ? QGuiApplication::primaryScreen() : nullptr;
        stream.sizePoints = screen ? screen->geometry().size() : QSize(1920, 1080);
        Diag::log(QStringLiteral("portal: no stream size given, assuming %1x%2")
                      .arg(stream.sizePoints.width())
                      .arg(stream.sizePoints.height()));
    }
    std::lock_guard lock(m_mutex);
    m_prepared = std::move(stream);
}

QCoro::Task<> WaylandCapturePlatform::askOnce()
{
    co_await prepare();
    std::optional<PortalStream> asked;
    {
        std::lock_guard lock(m_mutex);
        asked.swap(m_prepared);
    }
    if (asked)
        m_portal->close(asked->sessionHandle);
}

QList<DisplayInfo> WaylandCapturePlatform::displays()
{
    std::lock_guard lock(m_mutex);
    if (!m_prepared)
        throw RecorderError::failed(kNotShared);
    const QSize size = m_prepared->sizePoints;
    return {DisplayInfo{m_prepared->nodeId, QString(), QRect(m_prepared->position, size), double(size.width()),
                        double(size.height())}};
}

std::optional<quint32> WaylandCapturePlatform::displayIdOf(QScreen *screen, const QList<DisplayInfo> &displays)
{
    // Qt's screen geometry and the portal's position share the compositor's
    // logical coordinates (also through XWayland).
    if (!screen)
        return std::nullopt;
    for (const DisplayInfo &display : displays) {
        if (display.pixelRect.topLeft() == screen->geometry().topLeft())
            return display.id;
    }
    return std::nullopt;
}

std::unique_ptr<ScreenSource> WaylandCapturePlatform::openScreen(const DisplayInfo &display)
{
    std::optional<PortalStream> stream;
    {
        std::lock_guard lock(m_mutex);
        if (!m_prepared || m_prepared->nodeId != display.id)
            throw RecorderError::failed(kNotShared);
        stream.swap(m_prepared);
    }
    auto lease = std::make_unique<SessionLease>(m_portal.get(), stream->sessionHandle);
    auto source = std::make_unique<PipeWireScreenSource>(std::move(stream->remote), stream->nodeId);
    // A stream that cannot connect or agree on a format fails the start, not
    // the end of the recording.
    source->open(kStreamStartTimeout);
    return std::make_unique<SharedScreenSource>(std::move(lease), std::move(source));
}

std::unique_ptr<Microphone> WaylandCapturePlatform::openMicrophone()
{
    return std::make_unique<PulseMicrophone>();
}
