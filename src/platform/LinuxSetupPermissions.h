#pragma once

#include "platform/SetupPermissions.h"

#include <functional>

// The setup card's questions on a Linux desktop:
// - camera: authorized when a video device exists and opens; denied when one
//   exists but this user may not open it (the "video" group); in a sandbox
//   the camera portal answers and asks instead (`CameraPortal`);
// - microphone: authorized when the sound server is reachable and offers an
//   input;
// - screen: X11 lets any client read the screen (no `askScreen`); through the
//   Wayland screen-cast portal a restore token must have been handed out
//   (`screenRemembered`), and asking opens one portal session (`askScreen`:
//   the desktop's dialog, then the token is kept and the session closed).
// There is nothing to ask for a device file or the sound server, so a
// request measures again; "open settings" starts the desktop's privacy or
// sound settings when one of the known programs is installed (for the
// screen there is no such pane: the portal asks again when a recording
// starts).
class LinuxSetupPermissions final : public SetupPermissions {
public:
    // `askScreen` may throw with a sentence (cancelled, refused, no portal):
    // the step then just stays undone.
    struct CameraPortal {
        std::function<Authorization()> status;
        std::function<QCoro::Task<>()> ask;
    };
    LinuxSetupPermissions(std::function<bool()> screenRemembered, std::function<QCoro::Task<>()> askScreen,
                          CameraPortal cameraPortal = {});

    Authorization cameraStatus() override;
    Authorization microphoneStatus() override;
    QCoro::Task<> requestCamera() override;
    QCoro::Task<> requestMicrophone() override;
    bool screenPreflight() override;
    QCoro::Task<bool> requestScreen() override;
    void openSettings(const QString &pane) override;
    bool appIsActive() override;

private:
    std::function<bool()> m_screenRemembered;
    std::function<QCoro::Task<>()> m_askScreen;
    CameraPortal m_cameraPortal;
};
