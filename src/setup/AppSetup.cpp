#include "setup/AppSetup.h"

#include "app/AppState.h"
#include "platform/LinuxSetupPermissions.h"
#include "setup/BundleInfo.h"
#include "setup/BusyMarker.h"
#include "setup/Setup.h"
#include "setup/Updates.h"
#include "setup/UpdatesWindowHost.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QQmlContext>
#include <QQmlEngine>

AppSetup::AppSetup(AppState &state, std::shared_ptr<PreferenceStore> store, std::function<bool()> screenRemembered,
                   std::function<QCoro::Task<>()> askScreen, LinuxSetupPermissions::CameraPortal cameraPortal)
{
    const auto bundle = BundleInfo::running();
    Setup::Parts parts;
    parts.store = std::move(store);
    parts.permissions = std::make_shared<LinuxSetupPermissions>(std::move(screenRemembered), std::move(askScreen),
                                                                std::move(cameraPortal));
    parts.runningBundle = bundle ? bundle->path : QString();
    parts.launcher = &m_launcher;
    parts.quit = [] { QCoreApplication::quit(); };
    parts.openUrl = [](const QUrl &url) { QDesktopServices::openUrl(url); };
    parts.previewValue = qEnvironmentVariable("MIVRA_PREVIEW_SETUP");
    m_setup = std::make_unique<Setup>(std::move(parts));

    Updates::Config config = Updates::configFromEnvironment();
    config.mayCheck = [&state] { return state.phase().is(Phase::Kind::idle); };
    config.launcher = &m_launcher;
    config.quit = [] { QCoreApplication::quit(); };
    m_updates = std::make_unique<Updates>(std::move(config), &m_network);
    m_window = std::make_unique<UpdatesWindowHost>(*m_updates);

    connect(&state, &AppState::phaseChanged, this, [&state] { BusyMarker::set(!state.phase().is(Phase::Kind::idle)); });
    m_updates->startSchedule();
}

AppSetup::~AppSetup()
{
    BusyMarker::set(false);
}

void AppSetup::exposeTo(QQmlEngine &engine)
{
    engine.rootContext()->setContextProperty(QStringLiteral("setup"), m_setup.get());
    engine.rootContext()->setContextProperty(QStringLiteral("updates"), m_updates.get());
}
