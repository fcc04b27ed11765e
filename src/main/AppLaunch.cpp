#include "main/AppLaunch.h"

#include "main/AppParts.h"
#include "main/AppRequests.h"
#include "main/HeadlessFallback.h"

#include "main/Subcommand.h"
#include "main/Substitutes.h"
#include "main/ThumbnailCache.h"

#include "app/AppState.h"
#include "app/CommandUrl.h"
#include "app/MainThreadTask.h"
#include "base/Diag.h"
#include "base/Paths.h"
#include "capture/ScreenRecorder.h"
#include "platform/ClipboardWriter.h"
#include "platform/FilePreferenceStore.h"
#include "platform/MainWindowAccess.h"
#include "platform/ScreenLocator.h"
#include "platform/SingleInstance.h"
#include "platform/SoundPlayer.h"
#include "platform/TaskbarPresence.h"
#include "platform/UrlOpener.h"
#include "platform/capture/CaptureBackendChoice.h"
#include "platform/capture/PortalCamera.h"
#include "platform/capture/PortalScreenCast.h"
#include "platform/capture/WaylandCapturePlatform.h"
#include "service/ServiceOrigin.h"
#include "service/Uploader.h"
#include "setup/AppSetup.h"
#include "setup/Updates.h"
#include "ui/MainWindow.h"
#include "ui/TrayItem.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QThread>
#include <QTimer>

namespace {

QElapsedTimer &processClock()
{
    static QElapsedTimer clock;
    return clock;
}

bool hasDisplay()
{
    return qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ||
           qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
}

// What the desktop's reopen means here: a plain second launch shows the main
// window when none is visible, and otherwise brings the visible one forward.
void reopen(AppState &state)
{
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && window->windowType() != Qt::Popup && window->isWindow()) {
            window->raise();
            window->activateWindow();
            return;
        }
    }
    state.showMain();
}

// Quit from the menu: a running recording is finished and kept first.
QCoro::Task<> quitAfterRecording(AppState &state)
{
    co_await state.finishForQuit();
    QCoreApplication::quit();
}

int runPrimary(QApplication &app, InstanceServer &server, const QList<QUrl> &urls)
{
    // The app lives in the tray: closing its last window must not end it.
    QApplication::setQuitOnLastWindowClosed(false);

    auto taskbar = std::make_shared<WindowTaskbarPresence>();
    auto uploader = std::make_shared<std::shared_ptr<Uploader>>();
    auto store = std::make_shared<FilePreferenceStore>();
    AppState::setSharedFactory([taskbar, uploader, store] {
        AppState::Parts parts = makeAppParts(store, taskbar);
        *uploader = std::dynamic_pointer_cast<Uploader>(parts.uploader);
        return std::make_unique<AppState>(std::move(parts));
    });
    AppState &state = AppState::shared();
    // The setup card asks the portal only where recordings go through it.
    std::function<bool()> screenRemembered;
    std::function<QCoro::Task<>()> askScreen;
    if (chooseCaptureBackend() == CaptureBackend::wayland) {
        auto asker = std::make_shared<WaylandCapturePlatform>(store);
        screenRemembered = [store] { return PortalScreenCast::remembersChoice(*store); };
        askScreen = [asker] { return asker->askOnce(); };
    }
    // Sandboxed, the camera devices are out of sight: the portal stands in.
    LinuxSetupPermissions::CameraPortal cameraPortal;
    if (PortalCamera::sandboxed()) {
        auto camera = std::make_shared<PortalCamera>(PortalScreenCast::Options{});
        cameraPortal = {[camera] { return camera->status(); }, [camera] { return camera->ask(); }};
    }
    AppSetup setupParts(state, store, std::move(screenRemembered), std::move(askScreen), std::move(cameraPortal));
    // The command line's requests, answered on the app's own state.
    AppRequests requests(state, *uploader);
    QObject::connect(&server, &InstanceServer::requestReceived, &requests, &AppRequests::serve);
    taskbar->setShown(state.showInDock());

    // Made on first open: start-up to the tray loads no QML.
    QPointer<MainWindow> mainWindow;
    const auto openMain = [&state, &mainWindow, &setupParts, taskbar] {
        if (!mainWindow) {
            mainWindow = new MainWindow(state, std::make_shared<QtClipboardWriter>(), serviceOrigin(),
                                        [&setupParts](QQmlEngine &engine) {
                                            installThumbnailImages(engine);
                                            setupParts.exposeTo(engine);
                                        });
            taskbar->applyTo(mainWindow);
        }
        mainWindow->show();
        mainWindow->raise();
        mainWindow->activateWindow();
    };
    state.setOpenMain(openMain);

    TrayItem tray(state, TrayMenuActions{
                             [&state] { state.showMain(); },
                             [&setupParts] { setupParts.updates().checkForUpdates(); },
                             [&state] { launchTask(&state, [&state] { return quitAfterRecording(state); }); },
                         });
    tray.show();
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        Diag::log(QStringLiteral("tray: this desktop has no system tray, opening the main window instead"));
        state.showMain();
    }

    QObject::connect(&server, &InstanceServer::urlsReceived, &state, [&state](const QList<QUrl> &received) {
        if (received.isEmpty())
            reopen(state);
        else
            handleCommandUrls(state, received);
    });
    handleCommandUrls(state, urls);
    QTimer::singleShot(0, &state, [] {
        Diag::log(QStringLiteral("start: idle in the tray after %1 ms").arg(processClock().elapsed()));
    });

    const int status = app.exec();
    delete mainWindow.data();
    AppState::abandonShared();
    return status;
}

SingleInstance::HandOver handOver(QCoreApplication &app, const QString &socketPath, const QList<QUrl> &urls)
{
    auto outcome = SingleInstance::HandOver::noInstance;
    QCoro::connect(SingleInstance::handOver(socketPath, urls), &app, [&](SingleInstance::HandOver result) {
        outcome = result;
        // The answer may come before the loop runs, when quit() would be lost.
        QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    app.exec();
    return outcome;
}

int noAnswer()
{
    return failure(QStringLiteral("the running Mivra Video did not answer"));
}

// Delivers the URLs to a running app; -1 when none runs.
int handOverStatus(QCoreApplication &app, const QString &socketPath, const QList<QUrl> &urls)
{
    switch (handOver(app, socketPath, urls)) {
    case SingleInstance::HandOver::delivered:
        return 0;
    case SingleInstance::HandOver::noInstance:
        return -1;
    case SingleInstance::HandOver::noAnswer:
        break;
    }
    return noAnswer();
}

// An app that is quitting has stopped answering but still holds its socket
// for a moment; it does so right after installing or updating itself, when
// it starts this copy. True once the socket is let go within `limit`.
bool socketLetGo(const QString &socketPath, std::chrono::milliseconds limit)
{
    QDeadlineTimer deadline(limit);
    while (SingleInstance::someoneListens(socketPath)) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
    return true;
}

} // namespace

namespace AppLaunch {

void markProcessStart()
{
    processClock().start();
}

int run(int argc, char **argv, const QList<QUrl> &urls)
{
    QCoreApplication::setApplicationName(QStringLiteral("Mivra Video"));
    QCoreApplication::setOrganizationName(QStringLiteral("Mivra"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MIVRA_VERSION));
    const QString socketPath = SingleInstance::defaultSocketPath();

    if (!hasDisplay()) {
        // Commands can still reach a running app from a terminal without a display.
        QCoreApplication app(argc, argv);
        const int status = handOverStatus(app, socketPath, urls);
        return status >= 0 ? status
                           : failure(QStringLiteral("Mivra Video is not running and there is no display to "
                                                    "start it on"));
    }

    preferXWaylandForOurWindows();
    HeadlessFallback::allow();
    QApplication app(argc, argv);
    if (HeadlessFallback::happened())
        return failure(QStringLiteral("Mivra Video cannot show its tray icon or windows. ") +
                       QString::fromUtf8(HeadlessFallback::missingDisplaySentence()));
    QApplication::setDesktopFileName(QStringLiteral("mivra"));
    // Two tries: a launch that lost the race to become the app hands over instead.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const SingleInstance::HandOver outcome = handOver(app, socketPath, urls);
        if (outcome == SingleInstance::HandOver::delivered)
            return 0;
        if (outcome == SingleInstance::HandOver::noAnswer && !socketLetGo(socketPath, std::chrono::seconds(10)))
            return noAnswer();
        InstanceServer server(socketPath);
        if (server.listen())
            return runPrimary(app, server, urls);
        if (attempt == 1)
            return failure(QStringLiteral("could not open %1: %2").arg(socketPath, server.errorText()));
    }
    return 1;
}

} // namespace AppLaunch
