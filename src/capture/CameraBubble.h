#pragma once

#include "platform/camera/CameraFrames.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QThreadPool>

#include <atomic>
#include <memory>
#include <mutex>

class CameraAccess;
class CameraBubbleWindow;
class PreferenceStore;
class QScreen;
class QWindow;

// The user's camera, mirrored, in a small round window while recording, and
// the same camera's raw pictures for the video. Used on the main thread; the
// camera is started and stopped on its own control thread and delivers its
// pictures on its own thread.
class CameraBubble final : public QObject {
    Q_OBJECT
public:
    using FrameHandler = CameraFrames::Handler;

    CameraBubble(std::unique_ptr<CameraAccess> access, std::shared_ptr<PreferenceStore> store);
    ~CameraBubble() override;

    // Asks for the camera if the user has not decided, opens it the first
    // time, shows the window (placed on `screen` the first time, where the
    // user left it afterwards) and starts the camera. Throws CameraError or the
    // device's own error; a failure leaves the bubble as it was.
    QCoro::Task<> show(QScreen *screen);
    // Hides the window and stops the camera; the window and camera are kept.
    void hide();
    // Each raw camera picture goes to `handler` on the camera's thread.
    void startFrames(FrameHandler handler);
    void stopFrames();

    bool capturable() const { return m_capturable; }
    // Not capturable: X11 captures leave the window out (the video draws the bubble).
    void setCapturable(bool capturable);
    // The bubble window once the first show made it.
    QWindow *panel() const;

    static constexpr double diameter = 220.0;

private:
    void createPanel(QScreen *screen);
    void deliver(const QVideoFrame &picture);
    void updateLeftOut();

    std::unique_ptr<CameraAccess> m_access;
    std::shared_ptr<PreferenceStore> m_store;
    std::shared_ptr<CameraFrames> m_camera; // present once configured
    QPointer<CameraBubbleWindow> m_panel;
    QThreadPool m_control; // one thread: starts and stops keep their order
    bool m_running = false;
    bool m_capturable = true;

    std::mutex m_sinkMutex;
    FrameHandler m_frameSink;
    std::atomic<bool> m_previewPending{false};
    std::atomic<int> m_previewSide{int(diameter)};
};
