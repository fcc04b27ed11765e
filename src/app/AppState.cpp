#include "app/AppState.h"

#include "app/DateFormatters.h"
#include "app/LifetimePrompts.h"
#include "app/LinkLibrary.h"
#include "app/MainThreadTask.h"
#include "app/OneShot.h"
#include "app/OutputLocation.h"
#include "app/Preferences.h"
#include "app/RecordingClock.h"
#include "app/RecordingParts.h"
#include "app/SignalGate.h"
#include "base/Diag.h"
#include "capture/BubbleInVideo.h"
#include "capture/Recorder.h"
#include "platform/ClipboardWriter.h"
#include "platform/MainWindowAccess.h"
#include "platform/ScreenLocator.h"
#include "platform/SoundPlayer.h"
#include "platform/TaskbarPresence.h"
#include "platform/Trash.h"
#include "platform/UrlOpener.h"
#include "service/VideoService.h"

#include <QCoroSignal>
#include <QCoroTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QUrl>

namespace {
constexpr qint64 kHintedRecordings = 2;

std::function<std::unique_ptr<AppState>()> &sharedFactory()
{
    static std::function<std::unique_ptr<AppState>()> factory;
    return factory;
}

std::unique_ptr<AppState> &sharedInstance()
{
    static std::unique_ptr<AppState> instance;
    return instance;
}

std::unique_ptr<LinkLibrary> makeLibrary(const AppState::Parts &parts)
{
    auto removeThumbnail = [thumbs = parts.thumbs](const QString &id) {
        if (thumbs)
            thumbs->remove(id);
    };
    return std::make_unique<LinkLibrary>(*parts.store, *parts.service, std::move(removeThumbnail), parts.serviceOrigin,
                                         parts.now);
}

// "<description>. Saved at <path>" without doubling the full stop that ends
// every description.
QString savedAtText(QString description, const QString &filePath)
{
    if (description.endsWith(QLatin1Char('.')))
        description.chop(1);
    return description + QStringLiteral(". Saved at ") + QDir::toNativeSeparators(filePath);
}

QString uploadFailureText(const QString &description, const QString &filePath)
{
    return QStringLiteral("Upload failed: ") + savedAtText(description, filePath);
}
} // namespace

AppState::AppState(Parts parts, QObject *parent) : AppState(std::move(parts), Timing(), parent)
{
}

AppState::AppState(Parts parts, Timing timing, QObject *parent)
    : QObject(parent), m_parts(std::move(parts)), m_timing(timing),
      m_preferences(std::make_unique<Preferences>(*m_parts.store)), m_library(makeLibrary(m_parts)),
      m_clock(std::make_unique<RecordingClock>(m_parts.now, timing.tickIntervalMs))
{
    connect(m_preferences.get(), &Preferences::cameraEnabledChanged, this, &AppState::cameraEnabledChanged);
    connect(m_preferences.get(), &Preferences::micEnabledChanged, this, &AppState::micEnabledChanged);
    connect(m_preferences.get(), &Preferences::showInDockChanged, this, &AppState::showInDockChanged);
    connect(m_preferences.get(), &Preferences::bubbleInVideoChanged, this, &AppState::bubbleInVideoChanged);
    connect(m_preferences.get(), &Preferences::newVideoLifetimeChanged, this, &AppState::newVideoLifetimeChanged);
    connect(m_library.get(), &LinkLibrary::recentChanged, this, &AppState::recentChanged);
    connect(m_library.get(), &LinkLibrary::failed, this, [this](const QString &text) { setLastError(text); });
    connect(m_clock.get(), &RecordingClock::ticked, this, [this](const QString &elapsed) {
        if (m_phase.is(Phase::Kind::recording))
            setElapsed(elapsed);
    });
    if (auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        connect(app, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
            if (state == Qt::ApplicationActive)
                refreshWhenActive();
        });
    }
    const QPointer<AppState> self(this);
    m_parts.recorder->setOnLost([self](const QString &why) {
        if (self)
            self->recordingLost(why);
    });
    refreshWhenActive();
    // After start-up: looking into the recordings may take a moment.
    QMetaObject::invokeMethod(this, &AppState::refreshLeftBehind, Qt::QueuedConnection);
}

AppState::~AppState() = default;

AppState &AppState::shared()
{
    auto &instance = sharedInstance();
    if (!instance) {
        Q_ASSERT_X(sharedFactory(), "AppState::shared", "the program installs a factory at start");
        instance = sharedFactory()();
    }
    return *instance;
}

void AppState::setSharedFactory(std::function<std::unique_ptr<AppState>()> factory)
{
    sharedFactory() = std::move(factory);
}

void AppState::abandonShared()
{
    [[maybe_unused]] AppState *kept = sharedInstance().release();
}

bool AppState::hasShared()
{
    return sharedInstance() != nullptr;
}

const QList<RecentLink> &AppState::recent() const
{
    return m_library->recent();
}

bool AppState::cameraEnabled() const
{
    return m_preferences->cameraEnabled();
}

void AppState::setCameraEnabled(bool on)
{
    m_preferences->setCameraEnabled(on);
}

bool AppState::micEnabled() const
{
    return m_preferences->micEnabled();
}

void AppState::setMicEnabled(bool on)
{
    m_preferences->setMicEnabled(on);
}

bool AppState::showInDock() const
{
    return m_preferences->showInDock();
}

void AppState::setShowInDock(bool on)
{
    m_preferences->setShowInDock(on);
    m_parts.taskbar->setShown(on);
}

BubbleSpot AppState::bubbleInVideo() const
{
    return m_preferences->bubbleInVideo();
}

void AppState::setBubbleInVideo(BubbleSpot spot)
{
    m_preferences->setBubbleInVideo(spot);
}

std::optional<Lifetime> AppState::newVideoLifetime() const
{
    return m_preferences->newVideoLifetime();
}

void AppState::setNewVideoLifetime(std::optional<Lifetime> lifetime)
{
    m_preferences->setNewVideoLifetime(lifetime);
}

qint64 AppState::newVideoLifetimeSeconds() const
{
    const std::optional<Lifetime> lifetime = newVideoLifetime();
    if (!lifetime)
        return 0;
    return lifetime->isForever() ? Preferences::kForeverStoredValue : lifetime->seconds();
}

Lifetime AppState::effectiveNewLifetime() const
{
    return m_preferences->effectiveNewLifetime();
}

void AppState::setDemoMode(bool on)
{
    if (m_demoMode == on)
        return;
    m_demoMode = on;
    Q_EMIT demoModeChanged();
}

void AppState::setOpenMain(std::function<void()> openMain)
{
    const bool had = static_cast<bool>(m_openMain);
    m_openMain = std::move(openMain);
    if (had != static_cast<bool>(m_openMain))
        Q_EMIT openMainChanged();
}

void AppState::setSilentNext(bool on)
{
    if (m_silentNext == on)
        return;
    m_silentNext = on;
    Q_EMIT silentNextChanged();
}

bool AppState::previewLinks() const
{
    return m_library->previewLinks();
}

bool AppState::clockRunning() const
{
    return m_clock->isRunning();
}

void AppState::setPhase(const Phase &phase)
{
    if (m_phase == phase)
        return;
    const bool newCase = m_phase.kind() != phase.kind();
    m_phase = phase;
    if (newCase)
        Diag::log(QStringLiteral("phase ") + phase.name());
    Q_EMIT phaseChanged();
}

void AppState::setElapsed(const QString &elapsed)
{
    if (m_elapsed == elapsed)
        return;
    m_elapsed = elapsed;
    Q_EMIT elapsedChanged();
}

void AppState::setLastError(std::optional<QString> error)
{
    if (m_lastError == error)
        return;
    m_lastError = std::move(error);
    Q_EMIT lastErrorChanged();
}

void AppState::setMinimizedForRecording(bool on)
{
    if (m_minimizedForRecording == on)
        return;
    m_minimizedForRecording = on;
    Q_EMIT minimizedForRecordingChanged();
}

QCoro::Task<> AppState::startRecording()
{
    return startRecording(RecordingRequest{});
}

QCoro::Task<> AppState::startRecording(RecordingRequest request)
{
    if (!m_phase.is(Phase::Kind::idle))
        co_return;
    setPhase(Phase::starting());
    setLastError(std::nullopt);

    // The screen may go away while the start waits.
    const QPointer<QScreen> screen = m_parts.screens->screenUnderPointer();
    const qint64 started = m_preferences->recordingsStarted();
    m_parts.bar->show(screen, this, started < kHintedRecordings);
    const bool camera = request.camera.value_or(cameraEnabled());
    const BubbleSpot spot = request.spot.value_or(bubbleInVideo());
    const std::optional<BubbleSpot> drawn = bubbleDrawnInVideo(camera, spot, m_parts.capturesLeaveOurWindowsOut);
    const bool composite = drawn.has_value();
    const bool microphone = request.microphone.value_or(micEnabled());

    try {
        if (camera) {
            m_parts.bubble->setCapturable(!composite);
            co_await m_parts.bubble->show(screen);
            if (QWindow *panel = m_parts.bubble->panel())
                m_parts.bar->attach(panel);
        }
        const QString outputPath = OutputLocation::make(m_parts.recordingsFolder, m_parts.now());
        m_recordingPath = outputPath;
        co_await minimiseMainWindow();
        co_await m_parts.recorder->start(outputPath, screen, microphone, drawn);
    } catch (const std::exception &error) {
        failStart(errorDescription(error));
        co_return;
    }

    if (m_parts.compositorIntake) {
        if (CameraFrameHandler intake = m_parts.compositorIntake->cameraIntake())
            m_parts.bubble->startFrames(std::move(intake));
    }
    m_preferences->setRecordingsStarted(started + 1);
    const QDateTime since = m_parts.now();
    setPhase(Phase::recording(since));
    setElapsed(QStringLiteral("0:00"));
    m_clock->start(since);
}

void AppState::failStart(const QString &description)
{
    m_parts.bar->detach();
    m_parts.bubble->hide();
    m_parts.bar->hide();
    restoreMainWindow();
    setSilentNext(false);
    setPhase(Phase::idle());
    setLastError(description);
}

QCoro::Task<> AppState::stopRecording()
{
    if (!m_phase.is(Phase::Kind::recording))
        co_return;
    setPhase(Phase::finishing());
    m_clock->stop();
    m_parts.bar->detach();
    m_parts.bubble->stopFrames();
    m_parts.bubble->hide();

    RecordingResult result;
    try {
        result = co_await m_parts.recorder->stop();
    } catch (const std::exception &error) {
        failStop(keptFileText(errorDescription(error)));
        co_return;
    }

    co_await uploadRecording(result, QStringLiteral("Recording ") + DateFormatters::titleText(m_parts.now()));
}

QCoro::Task<> AppState::uploadRecording(RecordingResult result, QString title)
{
    setPhase(Phase::uploading(0, 0));
    refreshLeftBehind();
    const std::optional<Lifetime> lifetime =
        newVideoLifetime() ? std::optional<Lifetime>(effectiveNewLifetime()) : std::nullopt;
    // Reports come from the uploader's threads; each becomes a main-thread call
    // that finds the state, if it still exists, through a weak pointer.
    const QPointer<AppState> self(this);
    UploadProgress progress = [self](qint64 sentBytes, qint64 totalBytes) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, sentBytes, totalBytes] {
                if (self)
                    self->reportUploadProgress(sentBytes, totalBytes);
            },
            Qt::QueuedConnection);
    };

    VideoInfo info;
    try {
        info = co_await m_parts.uploader->upload(
            result.filePath, title, result.durationMs > 0 ? std::optional<qint64>(result.durationMs) : std::nullopt,
            result.width > 0 ? std::optional<int>(result.width) : std::nullopt,
            result.height > 0 ? std::optional<int>(result.height) : std::nullopt, lifetime, std::move(progress));
    } catch (const std::exception &error) {
        failStop(uploadFailureText(errorDescription(error), result.filePath));
        co_return;
    }

    const RecentLink link{info.id, info.shareUrl, title, m_parts.now(),
                          RecentLinkCoding::fromEpochMilliseconds(info.expiresAtMs)};
    // Begun before the link reaches the list, whose view then waits for this
    // picture from the local file instead of fetching the video.
    QCoro::Task<> thumbnail = m_parts.thumbs->make(info.id, result.filePath);
    m_library->addNew(link);
    Diag::log(QStringLiteral("upload ") + info.id + QStringLiteral(": complete, link ") + info.shareUrl);
    if (m_silentNext)
        m_parts.clipboard->setText(info.shareUrl);
    else
        copyAndOpen(link);
    setSilentNext(false);
    m_parts.sound->play(QStringLiteral("Glass"));

    try {
        co_await thumbnail;
    } catch (const std::exception &) {
        // A missing thumbnail only costs the picture in the list.
    }
    QFile::remove(result.filePath);
    finishRecordingRoad();
}

void AppState::reportUploadProgress(qint64 sentBytes, qint64 totalBytes)
{
    // A report that arrives after the upload ended must not bring the phase back.
    if (m_phase.is(Phase::Kind::uploading))
        setPhase(Phase::uploading(sentBytes, totalBytes));
}

void AppState::failStop(const QString &description)
{
    finishRecordingRoad();
    setLastError(description);
}

QString AppState::keptFileText(const QString &description) const
{
    // A stop that failed may still have closed the file: never leave it unnamed.
    if (!m_recordingPath.isEmpty() && QFileInfo(m_recordingPath).size() > 0)
        return savedAtText(description, m_recordingPath);
    return description;
}

void AppState::finishRecordingRoad()
{
    // A silent start counts for its own recording only, however it ends.
    setSilentNext(false);
    setPhase(Phase::idle());
    m_parts.bar->hide();
    restoreMainWindow();
    refreshLeftBehind();
}

void AppState::refreshLeftBehind()
{
    const bool idle = m_phase.is(Phase::Kind::idle);
    // File times are the real clock's, whatever clock the state runs on.
    QList<LeftBehindRecording> found = LeftBehindRecordings::list(
        m_parts.recordingsFolder, idle ? QString() : m_recordingPath, QDateTime::currentDateTime(),
        m_parts.durationProbe, idle ? m_recordingPath : QString());
    if (found == m_leftBehind)
        return;
    m_leftBehind = std::move(found);
    Q_EMIT leftBehindChanged();
}

QCoro::Task<> AppState::uploadLeftBehind(QString path)
{
    if (!m_phase.is(Phase::Kind::idle))
        co_return;
    const auto listed = std::find_if(m_leftBehind.cbegin(), m_leftBehind.cend(),
                                     [&path](const LeftBehindRecording &r) { return r.path == path; });
    // Only what the list offers: never some other file handed in.
    if (listed == m_leftBehind.cend())
        co_return;
    const LeftBehindRecording recording = *listed;
    setLastError(std::nullopt);
    m_recordingPath = recording.path;
    Diag::log(QStringLiteral("upload: recording left behind ") + recording.name);
    RecordingResult result;
    result.filePath = recording.path;
    result.durationMs = recording.durationMs.value_or(0);
    co_await uploadRecording(result, QStringLiteral("Recording ") + DateFormatters::titleText(recording.recordedAt));
}

void AppState::trashLeftBehind(const QString &path)
{
    const bool listed = std::any_of(m_leftBehind.cbegin(), m_leftBehind.cend(),
                                    [&path](const LeftBehindRecording &r) { return r.path == path; });
    if (!listed)
        return;
    // Qt alone would "trash" into the working folder when no Trash can be made.
    if (Trash::moveToTrash(path))
        Diag::log(QStringLiteral("moved recording left behind to the trash: ") + QFileInfo(path).fileName());
    else
        setLastError(QStringLiteral("Could not move %1 to the trash.").arg(QDir::toNativeSeparators(path)));
    refreshLeftBehind();
}

QCoro::Task<> AppState::discardRecording()
{
    if (!m_phase.is(Phase::Kind::recording))
        co_return;
    setPhase(Phase::finishing());
    m_clock->stop();
    m_parts.bar->detach();
    // Frames must stop before the recorder drops the compositor they go to.
    m_parts.bubble->stopFrames();
    m_parts.bubble->hide();

    try {
        const RecordingResult result = co_await m_parts.recorder->stop();
        QFile::remove(result.filePath);
        Diag::log(QStringLiteral("discarded recording ") + QFileInfo(result.filePath).fileName());
    } catch (const std::exception &) {
        // Discarding never reports an error, and leaves no file behind: a
        // recording stopped before its first picture fails to stop.
        QFile::remove(m_recordingPath);
    }
    finishRecordingRoad();
}

void AppState::recordingLost(const QString &why)
{
    if (m_phase.is(Phase::Kind::recording))
        launchTask(this, [this, why] { return endAfterLoss(why); });
}

QCoro::Task<> AppState::endAfterLoss(QString why)
{
    if (!m_phase.is(Phase::Kind::recording))
        co_return;
    setPhase(Phase::finishing());
    m_clock->stop();
    m_parts.bar->detach();
    m_parts.bubble->stopFrames();
    m_parts.bubble->hide();
    try {
        auto stopping = m_parts.recorder->stop();
        co_await stopping;
    } catch (const std::exception &) {
        // The loss itself is the news; the file is closed either way.
    }
    finishRecordingRoad();
    setLastError(keptFileText(why));
}

QCoro::Task<> AppState::awaitSettledPhase(int timeoutMs)
{
    SignalGate gate;
    QTimer bound;
    bound.setSingleShot(true);
    connect(&bound, &QTimer::timeout, &gate, &SignalGate::open);
    connect(this, &AppState::phaseChanged, &gate, [this, &gate] {
        if (!m_phase.is(Phase::Kind::starting) && !m_phase.is(Phase::Kind::finishing))
            gate.open();
    });
    bound.start(timeoutMs);
    co_await qCoro(&gate, &SignalGate::opened);
}

QCoro::Task<> AppState::finishForQuit()
{
    if (!m_quitting) {
        m_quitting = true;
        Q_EMIT quittingChanged();
    }
    // The writer must not be cut off mid-write: a start or stop under way
    // runs to its end first, within a bound.
    if (m_phase.is(Phase::Kind::starting) || m_phase.is(Phase::Kind::finishing)) {
        Diag::log(QStringLiteral("quit: waiting for the recording's file to close"));
        auto settling = awaitSettledPhase(m_timing.quitWaitMs);
        co_await settling;
    }
    if (m_phase.is(Phase::Kind::uploading)) {
        Diag::log(QStringLiteral("quit: upload left unfinished, kept ") + QFileInfo(m_recordingPath).fileName());
        co_return;
    }
    if (!m_phase.is(Phase::Kind::recording)) {
        if (!m_phase.is(Phase::Kind::idle))
            Diag::log(QStringLiteral("quit: the recording did not close in time, kept ") +
                      QFileInfo(m_recordingPath).fileName());
        co_return;
    }
    setPhase(Phase::finishing());
    m_clock->stop();
    m_parts.bar->detach();
    m_parts.bubble->stopFrames();
    m_parts.bubble->hide();
    try {
        const RecordingResult result = co_await m_parts.recorder->stop();
        Diag::log(QStringLiteral("kept recording at quit ") + QFileInfo(result.filePath).fileName());
    } catch (const std::exception &error) {
        Diag::log(QStringLiteral("recording at quit: ") + errorDescription(error));
    }
    finishRecordingRoad();
}

QCoro::Task<> AppState::minimiseMainWindow()
{
    if (m_demoMode)
        co_return;
    if (m_parts.mainWindow->presence() != MainWindowAccess::Presence::shown)
        co_return;
    setMinimizedForRecording(true);

    // Whichever comes first, the window manager's word or the fallback, resumes us.
    SignalGate gate;
    OneShot once([&gate] { gate.open(); });
    QTimer fallback;
    fallback.setSingleShot(true);
    fallback.setTimerType(Qt::PreciseTimer);
    const auto observer =
        connect(m_parts.mainWindow.get(), &MainWindowAccess::minimised, &gate, [&once] { once.fire(); });
    once.setCleanup([observer] { QObject::disconnect(observer); });
    connect(&fallback, &QTimer::timeout, &gate, [&once] { once.fire(); });
    fallback.start(m_timing.minimiseFallbackMs);
    m_parts.mainWindow->minimise();
    if (!gate.isOpen())
        co_await qCoro(&gate, &SignalGate::opened);
    fallback.stop();

    co_await QCoro::sleepFor(std::chrono::milliseconds(m_timing.minimisePauseMs));
    Diag::log(QStringLiteral("window minimised before recording"));
}

void AppState::restoreMainWindow()
{
    if (!m_minimizedForRecording)
        return;
    setMinimizedForRecording(false);
    if (m_parts.mainWindow->presence() == MainWindowAccess::Presence::minimised)
        m_parts.mainWindow->restore();
}

void AppState::addRecentLink(const RecentLink &link)
{
    m_library->addNew(link);
}

void AppState::copyAndOpen(const RecentLink &link)
{
    m_parts.clipboard->setText(link.shareUrl);
    // The link comes from the service: open web links only, never a local
    // file or another program's scheme.
    const QUrl url(link.shareUrl, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (url.isValid() && (scheme == QLatin1String("https") || scheme == QLatin1String("http")))
        m_parts.urlOpener->open(url);
}

void AppState::showMain()
{
    if (m_parts.mainWindow->bringToFront())
        return;
    if (m_openMain)
        m_openMain();
}

void AppState::refreshWhenActive()
{
    launchTask(this, [this] { return refreshFromServer(); });
}

QCoro::Task<> AppState::refreshFromServer()
{
    return m_library->refreshFromServer();
}

QCoro::Task<> AppState::deleteLink(RecentLink link)
{
    return m_library->deleteLink(std::move(link));
}

QCoro::Task<> AppState::rename(RecentLink link, QString title)
{
    return m_library->rename(std::move(link), std::move(title));
}

QCoro::Task<> AppState::setLifetime(RecentLink link, Lifetime lifetime)
{
    return m_library->setLifetime(std::move(link), lifetime);
}

QCoro::Task<> AppState::chooseNewLifetime(Lifetime lifetime)
{
    setNewVideoLifetime(lifetime);
    co_return;
}

QCoro::Task<std::optional<Lifetime>> AppState::promptLifetime(QString message)
{
    if (!m_parts.dialogs)
        co_return std::nullopt;
    co_return co_await LifetimePrompts::promptLifetime(*m_parts.dialogs, std::move(message));
}

QCoro::Task<std::optional<Lifetime>> AppState::promptUntil(RecentLink link)
{
    if (!m_parts.dialogs)
        co_return std::nullopt;
    co_return co_await LifetimePrompts::promptUntil(*m_parts.dialogs, std::move(link), m_parts.now());
}
