#pragma once

#include "platform/SetupPermissions.h"
#include "platform/capture/PortalScreenCast.h"

#include <QCoroTask>

// The camera as a sandboxed (Flatpak) app sees it: only through the desktop
// portal, which says whether a camera exists and asks the user for it.
class PortalCamera final {
public:
    explicit PortalCamera(PortalScreenCast::Options options);

    // Authorized once the user allowed the camera. The portal cannot tell a
    // refusal from a question never asked, so both read as not determined and
    // asking again is harmless: a refusal is answered without a dialog.
    SetupPermissions::Authorization status();
    // Shows the desktop's question; returns once the user answered.
    QCoro::Task<> ask();

    // Whether this process runs in a Flatpak sandbox.
    static bool sandboxed();

private:
    PortalScreenCast::Options m_options;
    quint64 m_tokens = 0;
};
