#include "capture/CameraError.h"

QString CameraError::text(Kind kind)
{
    switch (kind) {
    case Kind::denied:
        // On Linux the camera is a device file: desktops with a privacy switch
        // keep it there, otherwise membership of the video group grants it.
        return QStringLiteral("Camera access was denied. Allow it in Settings > Privacy > Camera (or add your "
                              "user to the video group), or turn off the camera bubble.");
    case Kind::noCamera:
        return QStringLiteral("No camera found.");
    }
    return {};
}
