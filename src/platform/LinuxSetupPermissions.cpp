#include "platform/LinuxSetupPermissions.h"

#include "base/Diag.h"
#include "base/Errors.h"

#include <QAudioDevice>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QMediaDevices>
#include <QProcess>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

LinuxSetupPermissions::LinuxSetupPermissions(std::function<bool()> screenRemembered,
                                             std::function<QCoro::Task<>()> askScreen, CameraPortal cameraPortal)
    : m_screenRemembered(std::move(screenRemembered)), m_askScreen(std::move(askScreen)),
      m_cameraPortal(std::move(cameraPortal))
{
}

SetupPermissions::Authorization LinuxSetupPermissions::cameraStatus()
{
    if (m_cameraPortal.status)
        return m_cameraPortal.status();
    const QStringList devices = QDir(QStringLiteral("/dev")).entryList({QStringLiteral("video*")}, QDir::System);
    if (devices.isEmpty())
        return Authorization::notDetermined;
    for (const QString &device : devices) {
        const int fd = ::open(QFile::encodeName(QStringLiteral("/dev/") + device).constData(), O_RDWR | O_NONBLOCK);
        if (fd >= 0) {
            ::close(fd);
            return Authorization::authorized;
        }
    }
    return Authorization::denied;
}

SetupPermissions::Authorization LinuxSetupPermissions::microphoneStatus()
{
    return QMediaDevices::audioInputs().isEmpty() ? Authorization::notDetermined : Authorization::authorized;
}

QCoro::Task<> LinuxSetupPermissions::requestCamera()
{
    if (m_cameraPortal.ask)
        co_await m_cameraPortal.ask();
}

QCoro::Task<> LinuxSetupPermissions::requestMicrophone()
{
    co_return;
}

bool LinuxSetupPermissions::screenPreflight()
{
    return !m_askScreen || (m_screenRemembered && m_screenRemembered());
}

QCoro::Task<bool> LinuxSetupPermissions::requestScreen()
{
    // Remembered already: asking again would only show the dialog once more.
    if (screenPreflight())
        co_return true;
    try {
        co_await m_askScreen();
    } catch (const std::exception &error) {
        // Cancelled or refused: the card stays on this step, no message box.
        Diag::log(QStringLiteral("setup: screen not shared: ") + errorDebugText(error));
    }
    co_return screenPreflight();
}

void LinuxSetupPermissions::openSettings(const QString &pane)
{
    // GNOME, KDE, then the plain PulseAudio mixer for sound.
    QList<QStringList> candidates;
    if (pane == QLatin1String("Privacy_Camera"))
        candidates = {{"gnome-control-center", "camera"}, {"systemsettings", "kcm_camera"}};
    else if (pane == QLatin1String("Privacy_Microphone"))
        candidates = {{"gnome-control-center", "microphone"}, {"systemsettings", "kcm_pulseaudio"}, {"pavucontrol"}};
    // No desktop has a pane for screen sharing: the portal asks when a
    // recording starts.
    for (const QStringList &command : candidates) {
        const QString program = QStandardPaths::findExecutable(command.first());
        if (!program.isEmpty() && QProcess::startDetached(program, command.mid(1)))
            return;
    }
    Diag::log(QStringLiteral("setup: no settings program for ") + pane);
}

bool LinuxSetupPermissions::appIsActive()
{
    return QGuiApplication::applicationState() == Qt::ApplicationActive;
}
