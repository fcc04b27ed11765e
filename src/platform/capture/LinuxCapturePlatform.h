#pragma once

#include "platform/capture/ScreenCapture.h"

#include <QHash>

#include <mutex>

// X11 screens (RandR monitors, MIT-SHM grabs) and the PulseAudio microphone.
class LinuxCapturePlatform final : public CapturePlatform, public CapturePreparation {
public:
    // Main thread: notes each screen's desktop scale, which displays() needs
    // and Qt only tells on the main thread.
    QCoro::Task<> prepare() override;
    QList<DisplayInfo> displays() override;
    std::optional<quint32> displayIdOf(QScreen *screen, const QList<DisplayInfo> &displays) override;
    std::unique_ptr<ScreenSource> openScreen(const DisplayInfo &display) override;
    std::unique_ptr<Microphone> openMicrophone() override;

private:
    double desktopScaleOf(const QString &name);

    std::mutex m_mutex;
    QHash<QString, double> m_scales; // by Qt screen name, as of the last prepare()
};
