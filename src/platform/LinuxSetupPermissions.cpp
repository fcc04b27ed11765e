#include "platform/LinuxSetupPermissions.h"

#include "base/Diag.h"

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

namespace {
bool isWayland()
{
    return qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ||
           qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland");
}
} // namespace

LinuxSetupPermissions::LinuxSetupPermissions(std::function<bool()> screenRemembered)
    : m_screenRemembered(std::move(screenRemembered))
{
}

SetupPermissions::Authorization LinuxSetupPermissions::cameraStatus()
{
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
    co_return;
}

QCoro::Task<> LinuxSetupPermissions::requestMicrophone()
{
    co_return;
}

bool LinuxSetupPermissions::screenPreflight()
{
    return !isWayland() || (m_screenRemembered && m_screenRemembered());
}

QCoro::Task<bool> LinuxSetupPermissions::requestScreen()
{
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
