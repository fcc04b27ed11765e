#pragma once

#include "Await.h"
#include "MemoryPreferenceStore.h"
#include "RecordingDoubles.h"

#include "app/AppState.h"

#include <QDir>
#include <QTemporaryDir>

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

    AppState &make()
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
        state = std::make_unique<AppState>(std::move(parts), timing);
        return *state;
    }

    int count(const QString &entry) const { return journal->count(entry); }
};
