#include "main/CameraParts.h"

#include "capture/CameraPicture.h"
#include "capture/ScreenRecorder.h"
#include "platform/camera/CameraFrames.h"

WindowlessCameraBubble::WindowlessCameraBubble(std::unique_ptr<CameraFrames> camera) : m_camera(std::move(camera))
{
}

WindowlessCameraBubble::~WindowlessCameraBubble()
{
    hide();
}

QCoro::Task<> WindowlessCameraBubble::show(QScreen *)
{
    if (!m_running) {
        m_camera->start([this](const QVideoFrame &picture) {
            std::lock_guard lock(m_mutex);
            if (m_handler)
                m_handler(picture);
        });
        m_running = true;
    }
    co_return;
}

void WindowlessCameraBubble::startFrames(CameraFrameHandler handler)
{
    std::lock_guard lock(m_mutex);
    m_handler = std::move(handler);
}

void WindowlessCameraBubble::stopFrames()
{
    std::lock_guard lock(m_mutex);
    m_handler = nullptr;
}

void WindowlessCameraBubble::hide()
{
    if (!m_running)
        return;
    m_camera->stop();
    m_running = false;
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
