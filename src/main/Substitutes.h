#pragma once

// Stand-ins where a real component cannot run (no camera, no display). Each
// does the least that keeps the recording road going.

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

// Where no window can show: the tray and the command line show the phase and the time.
class AbsentRecordingBar final : public RecordingBarControl {
public:
    void show(QScreen *, AppState *, bool) override {}
    void attach(QWindow *) override {}
    void detach() override {}
    void hide() override {}
};
