#pragma once

#include "platform/camera/CameraAccess.h"

#include <QCameraDevice>
#include <QThread>

#include <mutex>

class QCamera;
class QMediaCaptureSession;
class QVideoSink;

// A camera through Qt Multimedia. Its objects live on a thread of their own,
// so start() and stop() may be called from any thread but that one; pictures
// arrive on the thread the media backend delivers them on, uncopied.
class QtCamera final : public CameraFrames {
public:
    explicit QtCamera(const QCameraDevice &device);
    ~QtCamera() override;
    void start(Handler onPicture) override;
    void stop() override;

private:
    QCameraDevice m_device;
    QThread m_thread;
    QObject *m_home = nullptr; // lives on m_thread, parent of the media objects
    QCamera *m_camera = nullptr;
    QMediaCaptureSession *m_session = nullptr;
    QVideoSink *m_sink = nullptr;
    std::mutex m_mutex;
    Handler m_handler;
};

// On Linux the camera is a V4L2 device file: cameras that exist but none this
// user may open count as refused.
class QtCameraAccess final : public CameraAccess {
public:
    CameraPermission permission() const override;
    QCoro::Task<bool> requestPermission() override;
    std::unique_ptr<CameraFrames> defaultCamera() override;
};
