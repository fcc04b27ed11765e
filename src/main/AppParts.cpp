#include "main/AppParts.h"

#include "main/CameraParts.h"
#include "main/Substitutes.h"
#include "main/ThumbnailCache.h"

#include "base/Paths.h"
#include "capture/MediaProbe.h"
#include "capture/ScreenRecorder.h"
#include "controls/RecordingBar.h"
#include "platform/ClipboardWriter.h"
#include "platform/MainWindowAccess.h"
#include "platform/ScreenLocator.h"
#include "platform/SoundPlayer.h"
#include "platform/TaskbarPresence.h"
#include "platform/UrlOpener.h"
#include "platform/camera/CameraAccess.h"
#include "platform/capture/CaptureBackendChoice.h"
#include "service/ServiceOrigin.h"
#include "service/Uploader.h"
#include "ui/LifetimeDialogWindows.h"

#include <QGuiApplication>

namespace {
// Under the offscreen fallback no window shows: the recording runs without the
// floating bar, and the tray or the command line shows the phase.
bool displayForWindows()
{
    return qobject_cast<QGuiApplication *>(QCoreApplication::instance()) &&
           QGuiApplication::platformName() != QLatin1String("offscreen") && QGuiApplication::primaryScreen();
}
} // namespace

AppState::Parts makeAppParts(std::shared_ptr<PreferenceStore> store, std::shared_ptr<TaskbarPresence> taskbar)
{
    AppState::Parts parts;
    parts.store = std::move(store);
    auto uploader = std::make_shared<Uploader>(serviceOrigin(), *parts.store);
    parts.uploader = uploader;
    parts.service = uploader;
    const CaptureBackend backend = chooseCaptureBackend();
    auto recorder = std::make_shared<ScreenRecorder>(makeCapturePlatform(backend, parts.store));
    // The portal captures the whole screen with no way to leave our windows out.
    parts.capturesLeaveOurWindowsOut = backend == CaptureBackend::x11;
    parts.recorder = recorder;
    parts.compositorIntake = std::make_shared<RecorderCameraIntake>(recorder);
    if (cameraPresent())
        parts.bubble = std::make_shared<AppCameraBubble>(makeCameraAccess(), parts.store);
    else
        parts.bubble = std::make_shared<AbsentCameraBubble>();
    if (displayForWindows())
        parts.bar = std::make_shared<RecordingBar>();
    else
        parts.bar = std::make_shared<AbsentRecordingBar>();
    parts.thumbs = std::make_shared<ThumbnailCache>(sharedThumbs());
    parts.clipboard = std::make_shared<QtClipboardWriter>();
    parts.urlOpener = std::make_shared<DesktopUrlOpener>();
    parts.sound = std::make_shared<EffectSoundPlayer>(Paths::applicationSupportFolder() + QStringLiteral("/Sounds"));
    parts.screens = std::make_shared<QtScreenLocator>();
    parts.mainWindow = std::make_shared<QtMainWindowAccess>();
    parts.taskbar = std::move(taskbar);
    parts.dialogs = std::make_shared<LifetimeDialogWindows>();
    parts.durationProbe = probeDurationMs;
    parts.serviceOrigin = serviceOrigin().toString();
    parts.recordingsFolder = Paths::recordingsFolder();
    return parts;
}
