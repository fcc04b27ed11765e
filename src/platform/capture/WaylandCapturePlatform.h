#pragma once

#include "platform/capture/PortalScreenCast.h"
#include "platform/capture/ScreenCapture.h"

#include <QCoroTask>

#include <memory>
#include <mutex>
#include <optional>

class PreferenceStore;

// Wayland screens through the desktop portal and PipeWire; the microphone
// through PulseAudio, which PipeWire's Pulse server provides.
//
// One portal session per recording: prepare() opens it (the desktop asks the
// user only the first time, the restore token does the rest), displays()
// lists the one monitor it shares, and the session closes when the screen
// source opened on it is released, so the desktop's "sharing" indicator goes
// off with the recording.
class WaylandCapturePlatform final : public CapturePlatform, public CapturePreparation {
public:
    // `portal` lives on the main thread for as long as this platform.
    explicit WaylandCapturePlatform(std::shared_ptr<PortalScreenCast> portal);
    explicit WaylandCapturePlatform(std::shared_ptr<PreferenceStore> preferences);
    ~WaylandCapturePlatform() override;

    // Main thread.
    QCoro::Task<> prepare() override;
    // The setup card's screen step: asks the desktop once and keeps the
    // answer (the restore token) without recording.
    QCoro::Task<> askOnce();

    QList<DisplayInfo> displays() override;
    std::optional<quint32> displayIdOf(QScreen *screen, const QList<DisplayInfo> &displays) override;
    std::unique_ptr<ScreenSource> openScreen(const DisplayInfo &display) override;
    std::unique_ptr<Microphone> openMicrophone() override;

private:
    void closeLater(const QString &sessionHandle);

    std::shared_ptr<PortalScreenCast> m_portal;
    std::mutex m_mutex;
    std::optional<PortalStream> m_prepared; // shared and not yet opened
};
