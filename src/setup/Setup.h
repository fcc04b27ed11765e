#pragma once

#include "platform/SetupPermissions.h"
#include "setup/SetupStep.h"

#include <QCoroTask>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QUrl>
#include <QVariantMap>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class AppLauncher;
class PreferenceStore;

// What the setup card shows: a header and one row per listed step.
struct SetupCardRow {
    SetupStep step;
    int number = 0;
    bool done = false;
    bool current = false;
    QString title, detail, button, note; // detail, button and note only on the current row
};
struct SetupCard {
    bool shown = false;
    QString header; // "Step N of M"
    QList<SetupCardRow> rows;
};

// First-run setup: which steps (install, camera, microphone, screen) are
// needed, which are done, and carrying each out. One per run; main thread.
class Setup final : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool installBusy READ installBusy NOTIFY changed)
    Q_PROPERTY(bool installFailed READ installFailed NOTIFY changed)
    Q_PROPERTY(QString leftover READ leftover NOTIFY changed)
    Q_PROPERTY(QString leftoverFolder READ leftoverFolder NOTIFY changed)

public:
    static constexpr auto kScreenAskedKey = "setupScreenAsked";

    struct Parts {
        std::shared_ptr<PreferenceStore> store;
        std::shared_ptr<SetupPermissions> permissions;
        QString runningBundle; // empty: not run from a bundle (a package install)
        AppLauncher *launcher = nullptr;
        std::function<void()> quit = [] {};
        std::function<void(const QUrl &)> openUrl = [](const QUrl &) {};
        std::function<QCoro::Task<>(std::chrono::milliseconds)> pause;
        QString previewValue; // MIVRA_PREVIEW_SETUP
    };
    explicit Setup(Parts parts, QObject *parent = nullptr);

    void refresh();
    QList<SetupStep> steps(bool camera, bool microphone) const;
    bool isDone(SetupStep step) const;
    QCoro::Task<> perform(SetupStep step);
    // Runs the installation step (synchronously); relaunches and quits on success.
    void install();
    void revealLeftover();
    void dismissLeftover();

    SetupCard card(bool camera, bool microphone) const;
    std::optional<SetupStep> currentStep(bool camera, bool microphone) const;

    // For the card in QML: {shown, header, rows: [{step, number, done, current, title, detail, button, note}]}.
    Q_INVOKABLE QVariantMap cardData(bool camera, bool microphone) const;
    // The current row's button.
    Q_INVOKABLE void press(const QString &step);
    Q_INVOKABLE void refreshNow() { refresh(); }
    Q_INVOKABLE void revealLeftoverNow() { revealLeftover(); }
    Q_INVOKABLE void dismissLeftoverNow() { dismissLeftover(); }

    bool installBusy() const { return m_installBusy; }
    bool installFailed() const { return m_installFailed; }
    QString leftover() const { return m_leftover.value_or(QString()); }
    QString leftoverFolder() const;
    QStringList oldCopies() const { return m_oldCopies; }
    bool screenAsked() const { return m_screenAsked; }
    std::optional<SetupStep> preview() const { return m_preview; }

Q_SIGNALS:
    void changed();

private:
    QCoro::Task<> requestScreen();
    void rowTexts(SetupCardRow &row) const;

    Parts m_parts;
    QHash<SetupStep, bool> m_done;
    QStringList m_oldCopies;
    bool m_installBusy = false;
    bool m_installFailed = false;
    std::optional<QString> m_leftover;
    bool m_screenAsked = false;
    QSet<SetupStep> m_startedNeeding;
    std::optional<SetupStep> m_preview;
    bool m_previewScreenAsked = false;
};
