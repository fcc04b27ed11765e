#pragma once

#include "platform/camera/CameraFrames.h"

#include <QCoroTask>

#include <memory>

enum class CameraPermission { undecided, authorised, refused, restricted };

// Whether this user may use the camera, and the default camera itself.
class CameraAccess {
public:
    virtual ~CameraAccess() = default;
    virtual CameraPermission permission() const = 0;
    // Asks the user; true when they allow it.
    virtual QCoro::Task<bool> requestPermission() = 0;
    // The default camera, or null when there is none. May throw the device's
    // own error (a MivraError) when it cannot be opened.
    virtual std::unique_ptr<CameraFrames> defaultCamera() = 0;
};

// The camera the environment offers: the synthetic one under MIVRA_CAMERA=test,
// otherwise the system's default video input through Qt Multimedia.
std::unique_ptr<CameraAccess> makeCameraAccess();
// Whether this machine has a camera at all (or the synthetic one is asked for).
bool cameraPresent();
