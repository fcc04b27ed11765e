#pragma once

#include "setup/Appcast.h"
#include "setup/BundleInfo.h"

#include <QCoroTask>
#include <QObject>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>

class AppLauncher;
class QNetworkAccessManager;

// Keeps a bundle install up to date from an appcast feed: a quiet check at
// launch and then daily, a check the user starts (with its own window), and
// the download, verification and swap of a newer bundle. Checks are refused
// while `mayCheck` says no (the app records or uploads). Main thread only.
class Updates final : public QObject {
    Q_OBJECT
    Q_PROPERTY(State state READ state NOTIFY changed)
    Q_PROPERTY(QString message READ message NOTIFY changed)
    Q_PROPERTY(QString availableVersion READ availableVersion NOTIFY changed)
    Q_PROPERTY(QString releaseNotes READ releaseNotes NOTIFY changed)
    Q_PROPERTY(QUrl releaseNotesLink READ releaseNotesLink NOTIFY changed)
    Q_PROPERTY(double progress READ progress NOTIFY changed)
    Q_PROPERTY(bool busy READ busy NOTIFY changed)
    Q_PROPERTY(QString stateName READ stateName NOTIFY changed)
    Q_PROPERTY(QString installedVersion READ installedVersion CONSTANT)

public:
    enum class State { idle, checking, upToDate, available, downloading, installing, installed, failed, packaged };
    Q_ENUM(State)

    struct Config {
        std::optional<BundleInfo> bundle; // none: installed by a package
        QString installedVersion;         // used when there is no bundle
        QUrl feedUrl;
        QByteArray publicKey; // base64 Ed25519
        std::function<bool()> mayCheck = [] { return true; };
        AppLauncher *launcher = nullptr; // none: install without relaunching (the command line)
        std::function<void()> quit = [] {};
    };
    // The running copy's settings, with MIVRA_FEED_URL and
    // MIVRA_UPDATE_PUBLIC_KEY taking the place of the bundle's own.
    static Config configFromEnvironment();

    Updates(Config config, QNetworkAccessManager *network, QObject *parent = nullptr);

    State state() const { return m_state; }
    // The state's case name, for the window.
    QString stateName() const;
    QString message() const { return m_message; }
    QString availableVersion() const { return m_available ? m_available->displayVersion() : QString(); }
    QString releaseNotes() const { return m_available ? m_available->notes : QString(); }
    QUrl releaseNotesLink() const { return m_available ? m_available->notesLink : QUrl(); }
    double progress() const { return m_progress; }
    bool busy() const;
    QString installedVersion() const;

    // Reads the feed. Returns false (state unchanged) when vetoed; otherwise
    // ends in upToDate, available, failed or packaged.
    QCoro::Task<bool> check();
    // Downloads, verifies and swaps in the available version, then
    // relaunches and quits (or ends in installed without a launcher). Ends
    // in failed, with the reason, otherwise.
    QCoro::Task<> install();

    // "Check for Updates…": nothing happens while vetoed; otherwise the
    // window is asked for and the check runs.
    Q_INVOKABLE void checkForUpdates();
    Q_INVOKABLE void downloadAndInstall();
    // The quiet check now and then every `interval`.
    void startSchedule(std::chrono::milliseconds interval = std::chrono::hours(24));

Q_SIGNALS:
    void changed();
    void windowRequested();

private:
    void setState(State state, QString message = {});
    QCoro::Task<QString> download(const AppcastItem &item, const QString &folder);

    Config m_config;
    QNetworkAccessManager *m_network;
    State m_state = State::idle;
    QString m_message;
    std::optional<AppcastItem> m_available;
    double m_progress = 0;
    QTimer m_schedule;
};
