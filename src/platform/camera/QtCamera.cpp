#include "platform/camera/QtCamera.h"

#include "base/Errors.h"
#include "platform/camera/SyntheticCamera.h"

#include <QCamera>
#include <QDir>
#include <QMediaCaptureSession>
#include <QMediaDevices>
#include <QVideoSink>

#include <unistd.h>

namespace {
QStringList videoDevices()
{
    return QDir(QStringLiteral("/dev")).entryList({QStringLiteral("video*")}, QDir::System);
}

bool syntheticWanted()
{
    return qEnvironmentVariable("MIVRA_CAMERA") == QLatin1String("test");
}

// Runs `work` on `home`'s thread and waits for it.
template <typename Work> void onThread(QObject *home, Work work)
{
    std::exception_ptr error;
    QMetaObject::invokeMethod(
        home,
        [&] {
            try {
                work();
            } catch (...) {
                error = std::current_exception();
            }
        },
        Qt::BlockingQueuedConnection);
    if (error)
        std::rethrow_exception(error);
}
} // namespace

QtCamera::QtCamera(const QCameraDevice &device) : m_device(device)
{
    m_thread.setObjectName(QStringLiteral("camera"));
    m_home = new QObject;
    m_home->moveToThread(&m_thread);
    m_thread.start();
}

QtCamera::~QtCamera()
{
    stop();
    onThread(m_home, [this] { delete m_home; });
    m_thread.quit();
    m_thread.wait();
}

void QtCamera::start(Handler onPicture)
{
    {
        std::lock_guard lock(m_mutex);
        m_handler = std::move(onPicture);
    }
    onThread(m_home, [this] {
        if (!m_camera) {
            m_camera = new QCamera(m_device, m_home);
            m_session = new QMediaCaptureSession(m_home);
            m_sink = new QVideoSink(m_home);
            m_session->setCamera(m_camera);
            m_session->setVideoSink(m_sink);
            QObject::connect(
                m_sink, &QVideoSink::videoFrameChanged, m_home,
                [this](const QVideoFrame &picture) {
                    std::lock_guard lock(m_mutex);
                    if (m_handler)
                        m_handler(picture);
                },
                Qt::DirectConnection);
        }
        m_camera->start();
        if (m_camera->error() != QCamera::NoError)
            throw MivraError(m_camera->errorString());
    });
}

void QtCamera::stop()
{
    if (m_camera)
        onThread(m_home, [this] { m_camera->stop(); });
    std::lock_guard lock(m_mutex);
    m_handler = nullptr;
}

CameraPermission QtCameraAccess::permission() const
{
    if (syntheticWanted())
        return CameraPermission::authorised;
    const QStringList devices = videoDevices();
    if (devices.isEmpty())
        return CameraPermission::authorised; // no camera: told when it is opened
    for (const QString &name : devices) {
        if (::access(QFile::encodeName(QStringLiteral("/dev/") + name).constData(), R_OK | W_OK) == 0)
            return CameraPermission::authorised;
    }
    return CameraPermission::refused;
}

QCoro::Task<bool> QtCameraAccess::requestPermission()
{
    // Device files have no prompt: what permission() says is the answer.
    co_return permission() == CameraPermission::authorised;
}

std::unique_ptr<CameraFrames> QtCameraAccess::defaultCamera()
{
    if (syntheticWanted())
        return std::make_unique<SyntheticCamera>();
    const QCameraDevice device = QMediaDevices::defaultVideoInput();
    if (device.isNull())
        return nullptr;
    return std::make_unique<QtCamera>(device);
}

std::unique_ptr<CameraAccess> makeCameraAccess()
{
    return std::make_unique<QtCameraAccess>();
}

bool cameraPresent()
{
    return syntheticWanted() || !videoDevices().isEmpty();
}
