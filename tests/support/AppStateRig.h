#pragma once

#include "Await.h"
#include "MemoryPreferenceStore.h"
#include "RecordingDoubles.h"

#include "app/AppState.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// Writes `data` (by default the start of an MP4) to `path`, last written
// `secondsAgo`: a recording as a run that did not upload it leaves it.
inline void writeRecording(const QString &path, int secondsAgo, const QByteArray &data = {})
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(data.isEmpty() ? QByteArray("\0\0\0\x18"
                                           "ftypisom",
                                           12) +
                                    QByteArray(500, 'x')
                              : data);
    file.flush();
    EXPECT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(-secondsAgo), QFileDevice::FileModificationTime));
}

// An AppState over doubles, a memory store, a private XDG home, a settable
// clock and waits scaled down to milliseconds.
struct AppStateRig {
    // Recordings go here; the XDG folders are the test process's own.
    QTemporaryDir home;
    Journal journal = std::make_shared<QStringList>();
    std::shared_ptr<MemoryPreferenceStore> store = std::make_shared<MemoryPreferenceStore>();
    std::shared_ptr<FakeRecorder> recorder = std::make_shared<FakeRecorder>(journal);
    std::shared_ptr<FakeBubble> bubble = std::make_shared<FakeBubble>(journal);
    std::shared_ptr<FakeBar> bar = std::make_shared<FakeBar>(journal);
    std::shared_ptr<FakeUploader> uploader = std::make_shared<FakeUploader>(journal);
    std::shared_ptr<FakeThumbs> thumbs = std::make_shared<FakeThumbs>(journal);
    std::shared_ptr<FakeClipboard> clipboard = std::make_shared<FakeClipboard>(journal);
    std::shared_ptr<FakeUrlOpener> urlOpener = std::make_shared<FakeUrlOpener>(journal);
    std::shared_ptr<FakeSound> sound = std::make_shared<FakeSound>(journal);
    std::shared_ptr<FakeMainWindow> mainWindow = std::make_shared<FakeMainWindow>(journal);
    // A real main-window adapter instead of the double, when set.
    std::shared_ptr<MainWindowAccess> windowOverride;
    std::shared_ptr<FakeTaskbar> taskbar = std::make_shared<FakeTaskbar>();
    QDateTime now = QDateTime(QDate(2026, 12, 5), QTime(8, 55), Qt::LocalTime);
    AppState::Timing timing{5, 40, 5};
    std::unique_ptr<AppState> state;

    QString recordingsFolder() const { return home.path() + QStringLiteral("/videos/Mivra"); }

    AppState::Parts parts()
    {
        AppState::Parts parts;
        parts.store = store;
        parts.recorder = recorder;
        parts.compositorIntake = recorder;
        parts.bubble = bubble;
        parts.bar = bar;
        parts.uploader = uploader;
        parts.service = uploader;
        parts.thumbs = thumbs;
        parts.clipboard = clipboard;
        parts.urlOpener = urlOpener;
        parts.sound = sound;
        parts.screens = std::make_shared<FakeScreens>();
        parts.mainWindow = windowOverride ? windowOverride : std::shared_ptr<MainWindowAccess>(mainWindow);
        parts.taskbar = taskbar;
        parts.serviceOrigin = QStringLiteral("https://share.test");
        parts.recordingsFolder = recordingsFolder();
        parts.now = [this] { return now; };
        return parts;
    }
    AppState &make()
    {
        state = std::make_unique<AppState>(parts(), timing);
        return *state;
    }

    // Where a cycle ended, in one line: phase, error (the recording's path
    // as FILE), links, upload attempts, the recording file and the clock.
    QString outcome() const
    {
        const QString file = recorder->lastOutputPath;
        QString error = state->lastErrorText();
        if (!file.isEmpty())
            error.replace(file, QStringLiteral("FILE"));
        return QStringLiteral("%1 error=\"%2\" links=%3 uploads=%4 file=%5 clock=%6")
            .arg(state->phase().name(), error)
            .arg(state->recent().size())
            .arg(count(QStringLiteral("upload")))
            .arg(QFile::exists(file) ? QStringLiteral("kept") : QStringLiteral("gone"),
                 state->clockRunning() ? QStringLiteral("on") : QStringLiteral("off"));
    }

    // A double's awaited step by name: "show" (the camera), "start", "stop" or "upload".
    HeldStep &step(const std::string &name)
    {
        return name == "show"    ? bubble->showStep
               : name == "start" ? recorder->startStep
               : name == "stop"  ? recorder->stopStep
                                 : uploader->uploadStep;
    }

    int count(const QString &entry) const { return journal->count(entry); }
};
