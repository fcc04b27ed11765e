#pragma once

// Stand-ins for the components whose own work has not landed yet. Each does
// the least that keeps the recording road going. Each goes when its real
// component arrives.

#include "app/RecordingParts.h"

// No window and no camera: the recording runs without a bubble.
class AbsentCameraBubble final : public CameraBubbleControl {
public:
    void setCapturable(bool) override {}
    QWindow *panel() const override { return nullptr; }
    QCoro::Task<> show(QScreen *) override { co_return; }
    void startFrames(CameraFrameHandler) override {}
    void stopFrames() override {}
    void hide() override {}
};

// The tray shows the phase and the time until the floating bar exists.
class AbsentRecordingBar final : public RecordingBarControl {
public:
    void show(QScreen *, AppState *, bool) override {}
    void attach(QWindow *) override {}
    void detach() override {}
    void hide() override {}
};
