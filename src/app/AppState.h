#pragma once

#include "app/LeftBehindRecordings.h"
#include "app/Phase.h"
#include "app/RecentLink.h"
#include "base/Clock.h"
#include "base/Lifetime.h"
#include "capture/BubbleSpot.h"

#include <QCoroTask>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class CameraBubbleControl;
class ClipboardWriter;
class CompositorIntake;
class LifetimeDialogs;
class LinkLibrary;
class MainWindowAccess;
class Preferences;
class PreferenceStore;
class RecordingBarControl;
class RecordingClock;
class Recorder;
class ScreenLocator;
class SoundPlayer;
class TaskbarPresence;
class ThumbnailMaker;
class UrlOpener;
class VideoService;
class VideoUploader;
struct RecordingResult;

// The one shared state: what the user sees, and the phase machine that takes
// a recording from Start to a share link. Views only read it and call its
// operations; it alone drives the recorder and the uploader.
class AppState : public QObject {
    Q_OBJECT
    Q_PROPERTY(Phase phase READ phase NOTIFY phaseChanged)
    Q_PROPERTY(QString elapsed READ elapsed NOTIFY elapsedChanged)
    Q_PROPERTY(QString lastError READ lastErrorText NOTIFY lastErrorChanged)
    Q_PROPERTY(bool hasLastError READ hasLastError NOTIFY lastErrorChanged)
    Q_PROPERTY(QList<RecentLink> recent READ recent NOTIFY recentChanged)
    Q_PROPERTY(bool cameraEnabled READ cameraEnabled WRITE setCameraEnabled NOTIFY cameraEnabledChanged)
    Q_PROPERTY(bool micEnabled READ micEnabled WRITE setMicEnabled NOTIFY micEnabledChanged)
    Q_PROPERTY(bool showInDock READ showInDock WRITE setShowInDock NOTIFY showInDockChanged)
    Q_PROPERTY(BubbleSpot bubbleInVideo READ bubbleInVideo WRITE setBubbleInVideo NOTIFY bubbleInVideoChanged)
    // As stored: 0 when none is chosen, -1 for forever, else seconds.
    Q_PROPERTY(qint64 newVideoLifetimeSeconds READ newVideoLifetimeSeconds NOTIFY newVideoLifetimeChanged)
    Q_PROPERTY(QString effectiveNewLifetimeLabel READ effectiveNewLifetimeLabel NOTIFY newVideoLifetimeChanged)
    Q_PROPERTY(bool demoMode READ demoMode WRITE setDemoMode NOTIFY demoModeChanged)
    Q_PROPERTY(bool hasOpenMain READ hasOpenMain NOTIFY openMainChanged)
    Q_PROPERTY(bool silentNext READ silentNext WRITE setSilentNext NOTIFY silentNextChanged)
    Q_PROPERTY(bool minimizedForRecording READ minimizedForRecording NOTIFY minimizedForRecordingChanged)
    Q_PROPERTY(bool previewLinks READ previewLinks CONSTANT)
    Q_PROPERTY(bool quitting READ quitting NOTIFY quittingChanged)

public:
    // Everything the state drives, made once by the app (or a test) and kept
    // for the whole run. The same object may fill several slots (the
    // uploader is also the video service).
    struct Parts {
        std::shared_ptr<PreferenceStore> store;
        std::shared_ptr<Recorder> recorder;
        std::shared_ptr<CompositorIntake> compositorIntake; // may be null
        std::shared_ptr<CameraBubbleControl> bubble;
        std::shared_ptr<RecordingBarControl> bar;
        std::shared_ptr<VideoUploader> uploader;
        std::shared_ptr<VideoService> service;
        std::shared_ptr<ThumbnailMaker> thumbs;
        std::shared_ptr<ClipboardWriter> clipboard;
        std::shared_ptr<UrlOpener> urlOpener;
        std::shared_ptr<SoundPlayer> sound;
        std::shared_ptr<ScreenLocator> screens;
        std::shared_ptr<MainWindowAccess> mainWindow;
        std::shared_ptr<TaskbarPresence> taskbar;
        std::shared_ptr<LifetimeDialogs> dialogs;          // may be null until the views provide them
        LeftBehindRecordings::DurationProbe durationProbe; // may be empty: lengths unknown
        QString serviceOrigin;
        QString recordingsFolder;
        NowFunction now = systemNow;
        // False where captures cannot leave our own windows out (Wayland):
        // the bubble is then recorded where it sits, never drawn in a corner.
        bool capturesLeaveOurWindowsOut = true;
    };
    // The waits around a recording; tests scale them down.
    struct Timing {
        int tickIntervalMs = 1000;
        int minimiseFallbackMs = 1500;
        int minimisePauseMs = 120;
        // How long a quit waits for a start or a stop under way to close the file.
        int quitWaitMs = 15000;
    };

    explicit AppState(Parts parts, QObject *parent = nullptr);
    AppState(Parts parts, Timing timing, QObject *parent = nullptr);
    ~AppState() override;

    // The instance the whole program shares, made on first use by the factory
    // the program installed at start.
    static AppState &shared();
    static void setSharedFactory(std::function<std::unique_ptr<AppState>()> factory);
    static bool hasShared();
    // At quit: the shared instance is let go without being torn down, as
    // tasks still waiting on the network would otherwise resume into it
    // half-destroyed. Every change is already written when it is made.
    static void abandonShared();

    Phase phase() const { return m_phase; }
    QString elapsed() const { return m_elapsed; }
    std::optional<QString> lastError() const { return m_lastError; }
    QString lastErrorText() const { return m_lastError.value_or(QString()); }
    bool hasLastError() const { return m_lastError.has_value(); }
    const QList<RecentLink> &recent() const;

    bool cameraEnabled() const;
    void setCameraEnabled(bool on);
    bool micEnabled() const;
    void setMicEnabled(bool on);
    bool showInDock() const;
    // Also switches the taskbar presence, on every write.
    void setShowInDock(bool on);
    BubbleSpot bubbleInVideo() const;
    bool capturesLeaveOurWindowsOut() const { return m_parts.capturesLeaveOurWindowsOut; }
    void setBubbleInVideo(BubbleSpot spot);
    std::optional<Lifetime> newVideoLifetime() const;
    void setNewVideoLifetime(std::optional<Lifetime> lifetime);
    qint64 newVideoLifetimeSeconds() const;
    Lifetime effectiveNewLifetime() const;
    QString effectiveNewLifetimeLabel() const { return effectiveNewLifetime().label(); }

    bool demoMode() const { return m_demoMode; }
    void setDemoMode(bool on);
    bool hasOpenMain() const { return static_cast<bool>(m_openMain); }
    // Set by the main window: opens it when it does not exist.
    void setOpenMain(std::function<void()> openMain);
    bool silentNext() const { return m_silentNext; }
    void setSilentNext(bool on);
    bool minimizedForRecording() const { return m_minimizedForRecording; }
    bool previewLinks() const;
    bool clockRunning() const;
    // Set while a quit waits for the recording's file to close.
    bool quitting() const { return m_quitting; }

    // Settings for the next recording only, as a command asked for them;
    // absent ones follow the user's switches.
    struct RecordingRequest {
        std::optional<bool> microphone;
        std::optional<bool> camera;
        std::optional<BubbleSpot> spot;
    };
    // Idle to recording, or back to idle with lastError set.
    QCoro::Task<> startRecording();
    QCoro::Task<> startRecording(RecordingRequest request);
    // Recording to finishing, uploading and idle; the link is handed over.
    QCoro::Task<> stopRecording();
    // Recording to finishing and idle; the file is deleted.
    QCoro::Task<> discardRecording();
    // Before quitting: a start or stop under way is awaited (for at most
    // quitWaitMs), then a running recording is finished and its file kept in
    // the recordings folder, not uploaded. An unfinished upload's file stays.
    QCoro::Task<> finishForQuit();

    // A link uploaded by a command goes to the front of the recent list.
    void addRecentLink(const RecentLink &link);
    // Clipboard, then the browser (web links only).
    void copyAndOpen(const RecentLink &link);
    void showMain();

    // Our recordings still in the recordings folder (a failed upload, a
    // recording cut short), newest first.
    const QList<LeftBehindRecording> &leftBehind() const { return m_leftBehind; }
    void refreshLeftBehind();
    // A listed recording goes up the way a new one does; idle only.
    QCoro::Task<> uploadLeftBehind(QString path);
    // Moves a listed recording to the desktop's trash.
    void trashLeftBehind(const QString &path);

    QCoro::Task<> refreshFromServer();
    QCoro::Task<> deleteLink(RecentLink link);
    QCoro::Task<> rename(RecentLink link, QString title);
    QCoro::Task<> setLifetime(RecentLink link, Lifetime lifetime);
    QCoro::Task<> chooseNewLifetime(Lifetime lifetime);
    QCoro::Task<std::optional<Lifetime>> promptLifetime(QString message);
    QCoro::Task<std::optional<Lifetime>> promptUntil(RecentLink link);

Q_SIGNALS:
    void phaseChanged();
    void elapsedChanged();
    void lastErrorChanged();
    void recentChanged();
    void cameraEnabledChanged();
    void micEnabledChanged();
    void showInDockChanged();
    void bubbleInVideoChanged();
    void newVideoLifetimeChanged();
    void demoModeChanged();
    void openMainChanged();
    void silentNextChanged();
    void minimizedForRecordingChanged();
    void leftBehindChanged();
    void quittingChanged();

private:
    void setPhase(const Phase &phase);
    void setElapsed(const QString &elapsed);
    void setLastError(std::optional<QString> error);
    void setMinimizedForRecording(bool on);
    void reportUploadProgress(qint64 sentBytes, qint64 totalBytes);
    void failStart(const QString &description);
    void failStop(const QString &description);
    void finishRecordingRoad();
    QCoro::Task<> uploadRecording(RecordingResult result, QString title);
    void recordingLost(const QString &why);
    QCoro::Task<> endAfterLoss(QString why);
    QCoro::Task<> awaitSettledPhase(int timeoutMs);
    QString keptFileText(const QString &description) const;
    QCoro::Task<> minimiseMainWindow();
    void restoreMainWindow();
    void refreshWhenActive();

    Parts m_parts;
    Timing m_timing;
    std::unique_ptr<Preferences> m_preferences;
    std::unique_ptr<LinkLibrary> m_library;
    std::unique_ptr<RecordingClock> m_clock;

    Phase m_phase;
    QString m_elapsed = QStringLiteral("0:00");
    std::optional<QString> m_lastError;
    bool m_demoMode = false;
    std::function<void()> m_openMain;
    bool m_silentNext = false;
    bool m_minimizedForRecording = false;
    bool m_quitting = false;
    // The file of the recording under way, or of the last one.
    QString m_recordingPath;
    QList<LeftBehindRecording> m_leftBehind;
};
