#pragma once

#include "platform/AppLauncher.h"
#include "platform/LinuxSetupPermissions.h"

#include <QNetworkAccessManager>
#include <QObject>

#include <functional>
#include <memory>

class AppState;
class PreferenceStore;
class QQmlEngine;
class Setup;
class Updates;
class UpdatesWindowHost;

// The running app's setup and updates: the setup card's state, the update
// checks (quiet at launch and daily, refused while a recording is under
// way), the Software Update window, and the marker that tells
// `mivra update` the app is busy.
class AppSetup final : public QObject {
    Q_OBJECT
public:
    AppSetup(AppState &state, std::shared_ptr<PreferenceStore> store, std::function<bool()> screenRemembered,
             std::function<QCoro::Task<>()> askScreen, LinuxSetupPermissions::CameraPortal cameraPortal = {});
    ~AppSetup() override;

    Setup &setup() { return *m_setup; }
    Updates &updates() { return *m_updates; }
    // Gives the main window's QML `setup` and `updates`.
    void exposeTo(QQmlEngine &engine);

private:
    QNetworkAccessManager m_network;
    ProcessLauncher m_launcher;
    std::unique_ptr<Setup> m_setup;
    std::unique_ptr<Updates> m_updates;
    std::unique_ptr<UpdatesWindowHost> m_window;
};
