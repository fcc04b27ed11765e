#pragma once

#include "platform/capture/ScreenCapture.h"

// X11 screens (RandR monitors, MIT-SHM grabs) and the PulseAudio microphone.
class LinuxCapturePlatform final : public CapturePlatform {
public:
    QList<DisplayInfo> displays() override;
    std::optional<quint32> displayIdOf(QScreen *screen, const QList<DisplayInfo> &displays) override;
    std::unique_ptr<ScreenSource> openScreen(const DisplayInfo &display) override;
    std::unique_ptr<Microphone> openMicrophone() override;
};
