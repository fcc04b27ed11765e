#include "capture/CameraBubble.h"

#include "capture/CameraBubblePlacement.h"
#include "capture/CameraBubbleWindow.h"
#include "capture/CameraError.h"
#include "capture/OffMainThread.h"
#include "platform/AllDesktops.h"
#include "platform/LeftOutWindows.h"
#include "platform/PreferenceStore.h"
#include "platform/camera/CameraAccess.h"

#include <QGuiApplication>
#include <QScreen>

CameraBubble::CameraBubble(std::unique_ptr<CameraAccess> access, std::shared_ptr<PreferenceStore> store)
    : m_access(std::move(access)), m_store(std::move(store))
{
    m_control.setMaxThreadCount(1);
    m_control.setExpiryTimeout(-1);
}

CameraBubble::~CameraBubble()
{
    hide();
    m_control.waitForDone();
    delete m_panel;
}

QWindow *CameraBubble::panel() const
{
    return m_panel ? m_panel->windowHandle() : nullptr;
}

QCoro::Task<> CameraBubble::show(QScreen *screen)
{
    switch (m_access->permission()) {
    case CameraPermission::undecided:
        if (!co_await m_access->requestPermission())
            throw CameraError(CameraError::Kind::denied);
        break;
    case CameraPermission::authorised:
        break;
    case CameraPermission::refused:
    case CameraPermission::restricted:
        throw CameraError(CameraError::Kind::denied);
    }
    if (!m_camera) {
        // Opening a device may block; the main thread waits here without running it.
        auto opening = offMainThread([this] { m_camera = m_access->defaultCamera(); }, &m_control);
        co_await opening;
        if (!m_camera)
            throw CameraError(CameraError::Kind::noCamera);
    }
    const bool wasVisible = m_panel && m_panel->isVisible();
    if (!m_panel)
        createPanel(screen);
    m_previewSide = int(CameraBubbleWindow::circle(m_panel->size()).width() * m_panel->devicePixelRatioF());
    m_panel->show();
    m_panel->raise();
    updateLeftOut();
    if (m_running)
        co_return;
    m_running = true;
    try {
        // A plain pointer: the camera lives as long as this bubble.
        CameraFrames *camera = m_camera.get();
        auto starting = offMainThread(
            [camera, this] { camera->start([this](const QVideoFrame &picture) { deliver(picture); }); }, &m_control);
        co_await starting;
    } catch (...) {
        m_running = false;
        if (m_panel && !wasVisible)
            m_panel->hide();
        updateLeftOut();
        throw;
    }
}

void CameraBubble::setCapturable(bool capturable)
{
    m_capturable = capturable;
    updateLeftOut();
}

void CameraBubble::updateLeftOut()
{
    if (m_panel && m_panel->windowHandle())
        LeftOutWindows::setLeftOut(m_panel->windowHandle(), m_panel->isVisible() && !m_capturable);
}

void CameraBubble::hide()
{
    if (m_panel)
        m_panel->hide();
    updateLeftOut();
    if (!m_running)
        return;
    m_running = false;
    std::shared_ptr<CameraFrames> camera = m_camera;
    m_control.start(QRunnable::create([camera]() mutable { camera->stop(); }));
}

void CameraBubble::startFrames(FrameHandler handler)
{
    std::lock_guard lock(m_sinkMutex);
    m_frameSink = std::move(handler);
}

void CameraBubble::stopFrames()
{
    std::lock_guard lock(m_sinkMutex);
    m_frameSink = nullptr;
}

void CameraBubble::deliver(const QVideoFrame &picture)
{
    {
        std::lock_guard lock(m_sinkMutex);
        if (m_frameSink)
            m_frameSink(picture);
    }
    // The preview is scaled here, on the camera's thread; the window only
    // paints it. A picture arriving while one waits to be painted is dropped.
    if (m_previewPending.exchange(true))
        return;
    QImage preview = CameraBubbleWindow::filled(picture.toImage(), m_previewSide);
    QMetaObject::invokeMethod(
        this,
        [this, preview = std::move(preview)]() mutable {
            m_previewPending = false;
            if (m_panel)
                m_panel->setPreview(std::move(preview));
        },
        Qt::QueuedConnection);
}

void CameraBubble::createPanel(QScreen *screen)
{
    QScreen *primary = QGuiApplication::primaryScreen();
    if (!screen)
        screen = primary;
    const QRect primaryFrame = primary ? primary->geometry() : QRect();
    m_panel = new CameraBubbleWindow(int(diameter));
    m_panel->move(BubblePlacement::topLeft(m_store->value(BubblePlacement::kOriginKey), screen->geometry(),
                                           screen->availableGeometry(), primaryFrame));
    m_panel->winId();
    showOnAllDesktops(m_panel->windowHandle());
    connect(m_panel, &CameraBubbleWindow::movedByUser, this, [this, primaryFrame](QPoint topLeft) {
        m_store->setValue(BubblePlacement::kOriginKey, BubblePlacement::storedOrigin(topLeft, primaryFrame));
    });
}
