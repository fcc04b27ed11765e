#include "setup/Setup.h"

#include "app/MainThreadTask.h"
#include "base/Diag.h"
#include "platform/AppLauncher.h"
#include "platform/PreferenceStore.h"
#include "setup/BundleInfo.h"
#include "setup/Installation.h"

#include <QCoroTimer>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QProcessEnvironment>

using Authorization = SetupPermissions::Authorization;

Setup::Setup(Parts parts, QObject *parent) : QObject(parent), m_parts(std::move(parts))
{
    if (!m_parts.pause)
        m_parts.pause = [](std::chrono::milliseconds wait) { return QCoro::sleepFor(wait); };
    if (const auto path = m_parts.store->textValue(QString::fromLatin1(Installation::kLeftoverKey)))
        m_leftover = *path;
    if (m_parts.previewValue == QLatin1String("screen-asked")) {
        m_preview = SetupStep::screen;
        m_previewScreenAsked = true;
    } else {
        m_preview = setupStepFromName(m_parts.previewValue);
    }
    m_screenAsked = m_parts.store->boolValue(QString::fromLatin1(kScreenAskedKey)).value_or(false);
    refresh();
    for (SetupStep step : allSetupSteps()) {
        if (!m_done.value(step))
            m_startedNeeding.insert(step);
    }
}

void Setup::refresh()
{
    const QString &running = m_parts.runningBundle;
    if (!m_done.value(SetupStep::install) && !running.isEmpty())
        m_oldCopies = Installation::findOldCopies(std::nullopt, running);
    if (m_leftover && !QFileInfo::exists(*m_leftover)) {
        m_leftover.reset();
        m_parts.store->remove(QString::fromLatin1(Installation::kLeftoverKey));
    }
    SetupPermissions &permissions = *m_parts.permissions;
    m_done = {
        {SetupStep::install, running.isEmpty() || (Installation::isInApplications(running) && m_oldCopies.isEmpty())},
        {SetupStep::camera, permissions.cameraStatus() == Authorization::authorized},
        {SetupStep::microphone, permissions.microphoneStatus() == Authorization::authorized},
        {SetupStep::screen, permissions.screenPreflight()},
    };
    Q_EMIT changed();
}

QList<SetupStep> Setup::steps(bool camera, bool microphone) const
{
    if (m_preview)
        return allSetupSteps();
    QList<SetupStep> listed;
    for (SetupStep step : allSetupSteps()) {
        if ((step == SetupStep::camera && !camera) || (step == SetupStep::microphone && !microphone))
            continue;
        if (m_done.value(step) && !m_startedNeeding.contains(step))
            continue;
        listed << step;
    }
    return listed;
}

bool Setup::isDone(SetupStep step) const
{
    if (m_preview)
        return int(step) < int(*m_preview);
    return m_done.value(step);
}

std::optional<SetupStep> Setup::currentStep(bool camera, bool microphone) const
{
    for (SetupStep step : steps(camera, microphone)) {
        if (!isDone(step))
            return step;
    }
    return std::nullopt;
}

QCoro::Task<> Setup::perform(SetupStep step)
{
    QPointer<Setup> self(this);
    switch (step) {
    case SetupStep::install:
        install();
        break;
    case SetupStep::camera:
        if (m_parts.permissions->cameraStatus() == Authorization::notDetermined)
            co_await m_parts.permissions->requestCamera();
        else
            m_parts.permissions->openSettings(QStringLiteral("Privacy_Camera"));
        break;
    case SetupStep::microphone:
        if (m_parts.permissions->microphoneStatus() == Authorization::notDetermined)
            co_await m_parts.permissions->requestMicrophone();
        else
            m_parts.permissions->openSettings(QStringLiteral("Privacy_Microphone"));
        break;
    case SetupStep::screen:
        co_await requestScreen();
        break;
    }
    if (self)
        refresh();
}

QCoro::Task<> Setup::requestScreen()
{
    const bool askedBefore = m_screenAsked;
    m_screenAsked = true;
    m_parts.store->setValue(QString::fromLatin1(kScreenAskedKey), true);
    Q_EMIT changed();
    if (askedBefore) {
        m_parts.permissions->openSettings(QStringLiteral("Privacy_ScreenCapture"));
        co_return;
    }
    QPointer<Setup> self(this);
    if (co_await m_parts.permissions->requestScreen())
        co_return;
    // A desktop prompt takes the focus; without one, show the settings.
    co_await m_parts.pause(std::chrono::milliseconds(900));
    if (self && m_parts.permissions->appIsActive())
        m_parts.permissions->openSettings(QStringLiteral("Privacy_ScreenCapture"));
}

void Setup::install()
{
    m_installBusy = true;
    Q_EMIT changed();
    const QString running = m_parts.runningBundle;
    try {
        if (Installation::isInApplications(running)) {
            Installation::trash(m_oldCopies);
            Installation::writeDesktopEntry(running);
        } else {
            const QString download = Installation::originalLocation(running);
            const QString destination =
                Installation::installDir() + QLatin1Char('/') + QLatin1String(BundleInfo::kFolderName);
            Installation::copyIntoApplications(running, destination, m_oldCopies);
            Installation::writeDesktopEntry(destination);
            Installation::removeOriginal(download, destination, *m_parts.store);
            if (const auto left = m_parts.store->textValue(QString::fromLatin1(Installation::kLeftoverKey)))
                m_leftover = *left;
            QString why = QStringLiteral("nothing can start it");
            if (m_parts.launcher && m_parts.launcher->launch(destination + QStringLiteral("/AppRun"), {},
                                                             QProcessEnvironment::systemEnvironment(), &why)) {
                m_parts.quit();
            } else {
                Diag::log(QStringLiteral("install: relaunch failed: ") + why);
                m_installFailed = true;
            }
        }
    } catch (const InstallError &error) {
        Diag::log(QStringLiteral("install failed: ") + error.description());
        m_installFailed = true;
    }
    m_installBusy = false;
    Q_EMIT changed();
}

QString Setup::leftoverFolder() const
{
    return m_leftover ? QFileInfo(QFileInfo(*m_leftover).absolutePath()).fileName() : QString();
}

void Setup::revealLeftover()
{
    if (m_leftover)
        m_parts.openUrl(QUrl::fromLocalFile(QFileInfo(*m_leftover).absolutePath()));
}

void Setup::dismissLeftover()
{
    m_leftover.reset();
    m_parts.store->remove(QString::fromLatin1(Installation::kLeftoverKey));
    Q_EMIT changed();
}

void Setup::press(const QString &name)
{
    const auto step = setupStepFromName(name);
    if (!step || m_installBusy)
        return;
    if (*step == SetupStep::install && m_installFailed) {
        QDir().mkpath(Installation::installDir());
        m_parts.openUrl(QUrl::fromLocalFile(Installation::installDir()));
        return;
    }
    launchTask(this, [this, step = *step] { return perform(step); });
}
