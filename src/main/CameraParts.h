#pragma once

// The camera bubble and the camera's way into a composited recording, as the
// app state drives them.

#include "app/RecordingParts.h"

#include <memory>

class CameraAccess;
class CameraBubble;
class PreferenceStore;
class ScreenRecorder;

class AppCameraBubble final : public CameraBubbleControl {
public:
    AppCameraBubble(std::unique_ptr<CameraAccess> access, std::shared_ptr<PreferenceStore> store);
    ~AppCameraBubble() override;

    void setCapturable(bool capturable) override;
    QWindow *panel() const override;
    QCoro::Task<> show(QScreen *screen) override;
    void startFrames(CameraFrameHandler handler) override;
    void stopFrames() override;
    void hide() override;

private:
    std::unique_ptr<CameraBubble> m_bubble;
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
