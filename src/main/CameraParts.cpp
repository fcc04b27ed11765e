#include "main/CameraParts.h"

#include "capture/CameraBubble.h"
#include "capture/CameraPicture.h"
#include "capture/ScreenRecorder.h"
#include "platform/camera/CameraAccess.h"

AppCameraBubble::AppCameraBubble(std::unique_ptr<CameraAccess> access, std::shared_ptr<PreferenceStore> store)
    : m_bubble(std::make_unique<CameraBubble>(std::move(access), std::move(store)))
{
}

AppCameraBubble::~AppCameraBubble() = default;

void AppCameraBubble::setCapturable(bool capturable)
{
    m_bubble->setCapturable(capturable);
}

QWindow *AppCameraBubble::panel() const
{
    return m_bubble->panel();
}

QCoro::Task<> AppCameraBubble::show(QScreen *screen)
{
    co_await m_bubble->show(screen);
}

void AppCameraBubble::startFrames(CameraFrameHandler handler)
{
    m_bubble->startFrames(std::move(handler));
}

void AppCameraBubble::stopFrames()
{
    m_bubble->stopFrames();
}

void AppCameraBubble::hide()
{
    m_bubble->hide();
}

CameraFrameHandler RecorderCameraIntake::cameraIntake()
{
    std::function<void(VideoFrame)> intake = m_recorder->cameraIntake();
    if (!intake)
        return {};
    return [intake](const QVideoFrame &picture) {
        if (std::optional<VideoFrame> bgrx = bgrxCameraPicture(picture))
            intake(std::move(*bgrx));
    };
}
