#pragma once

// Doubles for what the application state drives, with a shared journal so
// tests can check the order of calls. Each asynchronous step can be held
// until the test releases it, and can fail.

#include "app/Phase.h"
#include "app/RecordingParts.h"
#include "app/SignalGate.h"
#include "base/Errors.h"
#include "capture/Recorder.h"
#include "platform/ClipboardWriter.h"
#include "platform/MainWindowAccess.h"
#include "platform/ScreenLocator.h"
#include "platform/SoundPlayer.h"
#include "platform/TaskbarPresence.h"
#include "platform/UrlOpener.h"
#include "service/VideoService.h"

#include <QCoroSignal>
#include <QFile>
#include <QGuiApplication>
#include <QStringList>
#include <QWindow>

#include <functional>

#include <memory>
#include <ostream>

using Journal = std::shared_ptr<QStringList>;

// A double that notes its calls in the shared journal.
class Journaling {
public:
    explicit Journaling(Journal journal) : m_journal(std::move(journal)) {}

protected:
    Journal m_journal;
};

// One awaited step of a double: passes at once unless held; may throw.
class HeldStep {
public:
    bool hold = false;
    std::optional<QString> failure;

    QCoro::Task<> pass()
    {
        if (hold) {
            auto gate = m_gate;
            co_await qCoro(gate.get(), &SignalGate::opened);
        }
        if (failure)
            throw MivraError(*failure);
    }
    void release()
    {
        hold = false;
        auto gate = std::exchange(m_gate, std::make_shared<SignalGate>());
        gate->open();
    }

private:
    std::shared_ptr<SignalGate> m_gate = std::make_shared<SignalGate>();
};

class FakeRecorder final : public Recorder, public CompositorIntake, Journaling {
public:
    using Journaling::Journaling;

    QCoro::Task<> start(QString outputPath, QScreen *, bool microphone, std::optional<BubbleSpot> spot) override
    {
        m_journal->append(QStringLiteral("recorder.start spot=%1 mic=%2")
                              .arg(spot ? rawValue(*spot) : QStringLiteral("none"))
                              .arg(microphone));
        lastOutputPath = outputPath;
        co_await startStep.pass();
        // The real recorder makes the file as it starts.
        QFile file(outputPath);
        file.open(QIODevice::WriteOnly);
        file.write("mp4");
        m_compositing = spot.has_value();
    }
    QCoro::Task<RecordingResult> stop() override
    {
        m_journal->append(QStringLiteral("recorder.stop"));
        co_await stopStep.pass();
        m_compositing = false;
        co_return RecordingResult{lastOutputPath, 3000, 1280, 720};
    }
    CameraFrameHandler cameraIntake() override
    {
        if (!m_compositing)
            return {};
        return [this](const QVideoFrame &) { m_journal->append(QStringLiteral("recorder.frame")); };
    }

    void setOnLost(std::function<void(const QString &)> handler) override { onLost = std::move(handler); }

    HeldStep startStep;
    HeldStep stopStep;
    // What the recorder calls when the screen goes away mid-recording.
    std::function<void(const QString &)> onLost;
    QString lastOutputPath;

private:
    bool m_compositing = false;
};

class FakeBubble final : public CameraBubbleControl, Journaling {
public:
    using Journaling::Journaling;

    void setCapturable(bool capturable) override
    {
        m_journal->append(QStringLiteral("bubble.capturable=%1").arg(capturable));
    }
    QWindow *panel() const override { return window.get(); }
    QCoro::Task<> show(QScreen *) override
    {
        m_journal->append(QStringLiteral("bubble.show"));
        co_await showStep.pass();
    }
    void startFrames(CameraFrameHandler handler) override
    {
        m_journal->append(QStringLiteral("bubble.startFrames"));
        frames = std::move(handler);
    }
    void stopFrames() override
    {
        m_journal->append(QStringLiteral("bubble.stopFrames"));
        frames = nullptr;
    }
    void hide() override { m_journal->append(QStringLiteral("bubble.hide")); }

    HeldStep showStep;
    std::unique_ptr<QWindow> window;
    CameraFrameHandler frames;
};

class FakeBar final : public RecordingBarControl, Journaling {
public:
    using Journaling::Journaling;
    void show(QScreen *, AppState *state, bool showHint) override
    {
        boundState = state;
        m_journal->append(QStringLiteral("bar.show hint=%1").arg(showHint));
    }
    void attach(QWindow *) override { m_journal->append(QStringLiteral("bar.attach")); }
    void detach() override { m_journal->append(QStringLiteral("bar.detach")); }
    void hide() override { m_journal->append(QStringLiteral("bar.hide")); }
    AppState *boundState = nullptr;
};

// The uploader and the link service in one, as the real one is, scripted:
// each service call is noted in `calls`, `beforeReply` runs while it is in
// flight (to change the world under the caller), then it fails with `error`
// (or a listing with `listError`: by default, as when the service cannot be
// reached) when set.
class FakeUploader final : public VideoUploader, public VideoService, Journaling {
public:
    explicit FakeUploader(Journal journal = std::make_shared<QStringList>()) : Journaling(std::move(journal)) {}

    QCoro::Task<VideoInfo> upload(QString filePath, QString title, std::optional<qint64> durationMs,
                                  std::optional<int> width, std::optional<int> height, std::optional<Lifetime> lifetime,
                                  UploadProgress progressCallback) override
    {
        m_journal->append(QStringLiteral("upload"));
        lastUpload = QStringLiteral("%1 \"%2\" %3 ms %4x%5 keep %6")
                         .arg(filePath, title, durationMs ? QString::number(*durationMs) : QStringLiteral("?"))
                         .arg(width.value_or(0))
                         .arg(height.value_or(0))
                         .arg(lifetime ? lifetime->secondsText() : QStringLiteral("default"));
        progress = std::move(progressCallback);
        co_await uploadStep.pass();
        ++uploads;
        const QString id = QStringLiteral("v%1").arg(uploads);
        co_return VideoInfo{id, QStringLiteral("https://share.test/v/") + id, expiresAtMs};
    }
    QCoro::Task<VideoList> listVideos() override
    {
        step(QStringLiteral("list"), listError ? listError : error);
        co_return list;
    }
    QCoro::Task<> deleteVideo(QString id) override
    {
        step(QStringLiteral("delete ") + id, error);
        co_return;
    }
    QCoro::Task<TitleResponse> rename(QString id, QString title) override
    {
        step(QStringLiteral("rename %1 %2").arg(id, title), error);
        co_return TitleResponse{id, renamedTitle.value_or(title)};
    }
    QCoro::Task<KeepResponse> setExpiry(QString id, Lifetime lifetime) override
    {
        step(QStringLiteral("expiry %1 %2").arg(id, lifetime.secondsText()), error);
        co_return KeepResponse{id, expiresAtMs};
    }

    HeldStep uploadStep;
    UploadProgress progress;
    // The last request in one line: file "title" duration size and lifetime.
    QString lastUpload;
    int uploads = 0;
    QStringList calls;
    VideoList list;
    std::optional<QString> renamedTitle; // the title the service stores, if not the one sent
    qint64 expiresAtMs = 1893456000000;  // 2030-01-01
    std::optional<QString> error;
    std::optional<QString> listError = QStringLiteral("The service could not be reached.");
    std::function<void()> beforeReply;

private:
    void step(const QString &call, const std::optional<QString> &failure)
    {
        calls << call;
        if (beforeReply)
            beforeReply();
        if (failure)
            throw MivraError(*failure);
    }
};

class FakeThumbs final : public ThumbnailMaker, Journaling {
public:
    using Journaling::Journaling;
    QCoro::Task<> make(QString id, QString filePath) override
    {
        // Whether the recording was still there when the thumbnail was made.
        m_journal->append(QStringLiteral("thumbs.make %1 file=%2").arg(id).arg(QFile::exists(filePath)));
        co_return;
    }
    void remove(const QString &id) override { m_journal->append(QStringLiteral("thumbs.remove ") + id); }
};

class FakeClipboard final : public ClipboardWriter, Journaling {
public:
    using Journaling::Journaling;
    void setText(const QString &value) override
    {
        text = value;
        m_journal->append(QStringLiteral("clipboard ") + value);
    }
    QString text;
};

class FakeUrlOpener final : public UrlOpener, Journaling {
public:
    using Journaling::Journaling;
    bool open(const QUrl &url) override
    {
        opened.append(url);
        m_journal->append(QStringLiteral("open ") + url.toString());
        return true;
    }
    QList<QUrl> opened;
};

class FakeSound final : public SoundPlayer, Journaling {
public:
    using Journaling::Journaling;
    void play(const QString &name) override { m_journal->append(QStringLiteral("sound ") + name); }
};

class FakeScreens final : public ScreenLocator {
public:
    QScreen *screenUnderPointer() override { return QGuiApplication::primaryScreen(); }
};

// A main window whose presence the test sets; `confirms` says whether the
// window manager reports the minimise (else only the fallback resumes).
class FakeMainWindow final : public MainWindowAccess, Journaling {
public:
    using Journaling::Journaling;
    Presence presence() const override { return state; }
    void minimise() override
    {
        m_journal->append(QStringLiteral("window.minimise"));
        state = Presence::minimised;
        if (confirms)
            Q_EMIT minimised();
    }
    void restore() override
    {
        m_journal->append(QStringLiteral("window.restore"));
        state = Presence::shown;
    }
    bool bringToFront() override
    {
        if (state == Presence::absent)
            return false;
        m_journal->append(QStringLiteral("window.front"));
        state = Presence::shown;
        return true;
    }
    Presence state = Presence::absent;
    bool confirms = true;
};

class FakeTaskbar final : public TaskbarPresence {
public:
    void setShown(bool on) override { value = on; }
    bool shown() const override { return value; }
    bool value = true;
};

// Readable phases in test failures.
inline void PrintTo(const Phase &phase, std::ostream *out)
{
    *out << phase.name().toStdString();
    if (phase.is(Phase::Kind::uploading))
        *out << "(" << phase.sentBytes() << " of " << phase.totalBytes() << ")";
    if (phase.is(Phase::Kind::recording))
        *out << "(" << phase.since().toString(Qt::ISODate).toStdString() << ")";
}
