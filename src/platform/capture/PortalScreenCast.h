#pragma once

#include "platform/capture/PipeWireHandles.h"

#include <QCoroTask>
#include <QDBusConnection>
#include <QObject>
#include <QPoint>
#include <QSize>
#include <QVariantMap>

#include <chrono>
#include <memory>
#include <optional>

class PreferenceStore;

// One monitor the desktop agreed to share.
struct PortalStream {
    QString sessionHandle;
    UniqueFd remote; // PipeWire connection that sees only the shared node
    uint32_t nodeId = 0;
    QPoint position;  // compositor coordinates; (0, 0) when not told
    QSize sizePoints; // logical size; empty when not told
};

// The answer to one portal request, watched from before the request is made
// so that an early answer is not missed.
class PortalResponse final : public QObject {
    Q_OBJECT
public:
    PortalResponse(QDBusConnection bus, QString service, QString path);
    ~PortalResponse() override;
    // Follows the request at another path (portals older than version 0.9
    // choose the path themselves).
    void watch(const QString &path);
    QString path() const { return m_path; }
    std::optional<uint> code() const { return m_code; }
    QVariantMap results() const { return m_results; }

Q_SIGNALS:
    void answered(uint code);

private Q_SLOTS:
    void onResponse(uint code, const QVariantMap &results);

private:
    void connectTo(const QString &path);
    void disconnectFrom(const QString &path);

    QDBusConnection m_bus;
    QString m_service;
    QString m_path;
    std::optional<uint> m_code;
    QVariantMap m_results;
};

// xdg-desktop-portal's ScreenCast exchange over D-Bus, on the main thread:
// CreateSession, SelectSources (one monitor, cursor drawn in, remembered
// until revoked), Start, OpenPipeWireRemote. The restore token the desktop
// hands back is kept in the preference store, so the user picks the screen
// once rather than at every recording.
class PortalScreenCast final : public QObject {
    Q_OBJECT
public:
    struct Options {
        QDBusConnection bus = QDBusConnection::sessionBus();
        QString service = QStringLiteral("org.freedesktop.portal.Desktop");
        // The user may take a while in the desktop's dialog.
        std::chrono::milliseconds answerTimeout{std::chrono::minutes(3)};
    };
    static inline const QString restoreTokenKey = QStringLiteral("screenCastRestoreToken");

    PortalScreenCast(std::shared_ptr<PreferenceStore> preferences, Options options, QObject *parent = nullptr);

    // Asks the desktop for one monitor. Throws RecorderError with a sentence
    // when the portal is missing, the user cancels or the desktop refuses;
    // no session is left open then.
    QCoro::Task<PortalStream> open();
    // Ends a session from open(): the desktop stops sharing.
    void close(const QString &sessionHandle);
    // Whether the desktop will share without asking: it handed out a token
    // that has not been used up. The nearest thing to a "permission granted"
    // check on Wayland, for the setup card's screen step.
    static bool remembersChoice(const PreferenceStore &preferences);

private:
    struct Abilities {
        uint version = 0;
        uint sourceTypes = 0;
        uint cursorModes = 0;
    };
    QCoro::Task<Abilities> readAbilities();
    QCoro::Task<QVariantMap> request(const QString &method, QVariantList arguments, QVariantMap options);
    QCoro::Task<PortalStream> startSession(QString session, Abilities abilities);
    QString nextToken();
    void keepRestoreToken(const QVariantMap &startResults);

    std::shared_ptr<PreferenceStore> m_preferences;
    Options m_options;
    quint64 m_tokens = 0;
};
