#pragma once

// The camera's way into a composited recording, until the bubble window
// exists: the camera runs without a window while a recording is shown, and
// its pictures reach the recorder's compositor.

#include "app/RecordingParts.h"

#include <memory>
#include <mutex>

class CameraFrames;
class ScreenRecorder;

class WindowlessCameraBubble final : public CameraBubbleControl {
public:
    explicit WindowlessCameraBubble(std::unique_ptr<CameraFrames> camera);
    ~WindowlessCameraBubble() override;

    void setCapturable(bool) override {}
    QWindow *panel() const override { return nullptr; }
    QCoro::Task<> show(QScreen *screen) override;
    void startFrames(CameraFrameHandler handler) override;
    void stopFrames() override;
    void hide() override;

private:
    std::unique_ptr<CameraFrames> m_camera;
    bool m_running = false;
    std::mutex m_mutex; // the handler is called on the camera's thread
    CameraFrameHandler m_handler;
};

// Hands camera pictures to the recorder's compositor while a composited
// recording runs.
class RecorderCameraIntake final : public CompositorIntake {
public:
    explicit RecorderCameraIntake(std::shared_ptr<ScreenRecorder> recorder) : m_recorder(std::move(recorder)) {}
    CameraFrameHandler cameraIntake() override;

private:
    std::shared_ptr<ScreenRecorder> m_recorder;
};
