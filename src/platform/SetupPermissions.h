#pragma once

#include <QCoroTask>
#include <QString>

// What the setup card asks the desktop: whether the camera, the microphone
// and the screen may be used, how to ask, and where the settings are.
class SetupPermissions {
public:
    enum class Authorization { notDetermined, denied, restricted, authorized };

    virtual ~SetupPermissions() = default;
    virtual Authorization cameraStatus() = 0;
    virtual Authorization microphoneStatus() = 0;
    // Ask for access and return once the desktop answered.
    virtual QCoro::Task<> requestCamera() = 0;
    virtual QCoro::Task<> requestMicrophone() = 0;
    // Whether a recording would start without a question.
    virtual bool screenPreflight() = 0;
    // Asks; true when access was given at once.
    virtual QCoro::Task<bool> requestScreen() = 0;
    // "Privacy_Camera", "Privacy_Microphone" or "Privacy_ScreenCapture".
    virtual void openSettings(const QString &pane) = 0;
    // Whether one of our windows still has the focus (no desktop prompt took it).
    virtual bool appIsActive() = 0;
};
