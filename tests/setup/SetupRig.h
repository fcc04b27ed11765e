#pragma once

// Fakes and a scratch world for the setup tests: permissions answered from
// fields, a launcher that only records, and scratch Downloads, applications
// and home folders (HOME and MIVRA_INSTALL_DIR point into them meanwhile).

#include "MemoryPreferenceStore.h"
#include "PrivateHome.h"

#include "platform/AppLauncher.h"
#include "platform/SetupPermissions.h"
#include "setup/Setup.h"

#include <QQuickWindow>
#include <QTemporaryDir>

class FakePermissions final : public SetupPermissions {
public:
    Authorization camera = Authorization::authorized;
    Authorization microphone = Authorization::authorized;
    bool screen = true;
    bool screenGrantedOnRequest = false;
    bool active = true;
    QStringList calls;

    Authorization cameraStatus() override { return camera; }
    Authorization microphoneStatus() override { return microphone; }
    QCoro::Task<> requestCamera() override
    {
        calls << "requestCamera";
        co_return;
    }
    QCoro::Task<> requestMicrophone() override
    {
        calls << "requestMicrophone";
        co_return;
    }
    bool screenPreflight() override { return screen; }
    QCoro::Task<bool> requestScreen() override
    {
        calls << "requestScreen";
        screen = screenGrantedOnRequest;
        co_return screen;
    }
    void openSettings(const QString &pane) override { calls << "open " + pane; }
    bool appIsActive() override { return active; }
};

// Records launches; hands them on to `real` when set.
class FakeLauncher final : public AppLauncher {
public:
    bool launch(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment,
                QString *error) override
    {
        launched << program;
        carried = environment;
        if (real)
            return real->launch(program, arguments, environment, error);
        if (!works)
            *error = QStringLiteral("no such program");
        return works;
    }
    QStringList launched;
    QProcessEnvironment carried;
    bool works = true;
    AppLauncher *real = nullptr;
};

// "Step 1 of 2: 1 Allow the microphone [Allow], 2 Allow screen recording":
// the header, then each row with a tick when done and the current one's button.
inline QString describe(const SetupCard &card)
{
    if (!card.shown)
        return QStringLiteral("hidden");
    QStringList rows;
    for (const SetupCardRow &row : card.rows)
        rows << QString::number(row.number) + (row.done ? "✓ " : " ") + row.title +
                    (row.button.isEmpty() ? QString() : " [" + row.button + "]");
    return card.header + ": " + rows.join(", ");
}

// Grabs `window` and saves it as <build>/setup-shots/<name>.png for a look.
inline QImage render(QQuickWindow &window, const QString &name)
{
    const QString shots = QStringLiteral(MIVRA_BINARY_DIR "/setup-shots/");
    QDir().mkpath(shots);
    QImage shot = window.grabWindow();
    shot.save(shots + name + QStringLiteral(".png"));
    return shot;
}

struct SetupWorld {
    SetupWorld()
    {
        QDir().mkpath(home() + "/Applications");
        QDir().mkpath(qEnvironmentVariable("XDG_DATA_HOME"));
        savedHome = qgetenv("HOME");
        qputenv("HOME", home().toUtf8());
        qputenv("MIVRA_INSTALL_DIR", apps().toUtf8());
    }
    ~SetupWorld()
    {
        qputenv("HOME", savedHome);
        qunsetenv("MIVRA_INSTALL_DIR");
    }
    QString downloads() const { return root.path() + "/Downloads"; }
    QString apps() const { return root.path() + "/apps"; }
    QString home() const { return root.path() + "/home"; }
    QString trash() const { return qEnvironmentVariable("XDG_DATA_HOME") + "/Trash/files"; }

    std::unique_ptr<Setup> makeSetup(const QString &runningBundle, const QString &preview = {})
    {
        return std::make_unique<Setup>(Setup::Parts{.store = store,
                                                    .permissions = permissions,
                                                    .runningBundle = runningBundle,
                                                    .launcher = &launcher,
                                                    .quit = [this] { ++quits; },
                                                    .pause = [this](std::chrono::milliseconds wait) -> QCoro::Task<> {
                                                        pauses << wait.count();
                                                        co_return;
                                                    },
                                                    .previewValue = preview});
    }

    PrivateHome xdg{PrivateHome::thisProcess};
    QTemporaryDir root;
    QByteArray savedHome;
    std::shared_ptr<MemoryPreferenceStore> store = std::make_shared<MemoryPreferenceStore>();
    std::shared_ptr<FakePermissions> permissions = std::make_shared<FakePermissions>();
    FakeLauncher launcher;
    int quits = 0;
    QList<qint64> pauses;
};
