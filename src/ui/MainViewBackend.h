#pragma once

#include "app/RenameFlow.h"
#include "ui/RecentLinksModel.h"

#include <QObject>
#include <QString>
#include <QUrl>
#include <QVariantList>

class AppState;
class ClipboardWriter;

// What the main window's QML binds to: the shared state's fields in the
// shapes the view shows, the menus built by the lifetime menu logic, and the
// actions the window's buttons start. The view decides nothing itself.
class MainViewBackend : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString phase READ phase NOTIFY phaseChanged)
    Q_PROPERTY(QString elapsed READ elapsed NOTIFY elapsedChanged)
    Q_PROPERTY(QString uploadText READ uploadText NOTIFY phaseChanged)
    // Sent divided by total, or -1 while the total is unknown.
    Q_PROPERTY(double uploadFraction READ uploadFraction NOTIFY phaseChanged)
    Q_PROPERTY(QString stageHint READ stageHint NOTIFY cameraEnabledChanged)
    Q_PROPERTY(bool cameraEnabled READ cameraEnabled WRITE setCameraEnabled NOTIFY cameraEnabledChanged)
    Q_PROPERTY(bool micEnabled READ micEnabled WRITE setMicEnabled NOTIFY micEnabledChanged)
    Q_PROPERTY(bool showInDock READ showInDock WRITE setShowInDock NOTIFY showInDockChanged)
    Q_PROPERTY(QString bubbleSpotTitle READ bubbleSpotTitle NOTIFY bubbleInVideoChanged)
    Q_PROPERTY(QVariantList bubbleSpots READ bubbleSpots NOTIFY bubbleInVideoChanged)
    // Empty unless the chosen corner cannot be honoured on this desktop.
    Q_PROPERTY(QString bubbleSpotNote READ bubbleSpotNote NOTIFY bubbleInVideoChanged)
    Q_PROPERTY(QString newLifetimeLabel READ newLifetimeLabel NOTIFY newLifetimeChanged)
    Q_PROPERTY(QVariantList newLifetimeMenu READ newLifetimeMenu NOTIFY newLifetimeChanged)
    Q_PROPERTY(QVariantList leftBehind READ leftBehind NOTIFY leftBehindChanged)
    Q_PROPERTY(QString version READ version CONSTANT)
    Q_PROPERTY(QString deleteTooltip READ deleteTooltip CONSTANT)
    // Public videos are this followed by the link's id.
    Q_PROPERTY(QString mediaBase READ mediaBase CONSTANT)
    Q_PROPERTY(RecentLinksModel *links READ links CONSTANT)
    Q_PROPERTY(RenameFlow *rename READ rename CONSTANT)

public:
    MainViewBackend(AppState &state, ClipboardWriter &clipboard, QUrl serviceOrigin, NowFunction now = systemNow,
                    QObject *parent = nullptr);
    ~MainViewBackend() override;

    QString phase() const;
    QString elapsed() const;
    QString uploadText() const;
    double uploadFraction() const;
    QString stageHint() const;
    bool cameraEnabled() const;
    void setCameraEnabled(bool on);
    bool micEnabled() const;
    void setMicEnabled(bool on);
    bool showInDock() const;
    void setShowInDock(bool on);
    QString bubbleSpotTitle() const;
    QVariantList bubbleSpots() const;
    QString bubbleSpotNote() const;
    QString newLifetimeLabel() const;
    QVariantList newLifetimeMenu() const;
    QVariantList leftBehind() const;
    QString version() const;
    QString deleteTooltip() const;
    QString mediaBase() const;
    RecentLinksModel *links() const { return m_links; }
    RenameFlow *rename() const { return m_rename; }

    Q_INVOKABLE void record();
    Q_INVOKABLE void done();
    Q_INVOKABLE void discard();
    Q_INVOKABLE void chooseBubbleSpot(int index);
    // Lifetimes travel as seconds, -1 for forever, as the menus give them.
    Q_INVOKABLE void pickNewLifetime(qint64 seconds);
    Q_INVOKABLE void customNewLifetime();
    // The clock menu of one link: its expiry text as heading, then the items.
    Q_INVOKABLE QString linkExpiryText(const QString &id) const;
    Q_INVOKABLE QVariantList linkMenu(const QString &id) const;
    Q_INVOKABLE void pickLinkLifetime(const QString &id, qint64 seconds);
    Q_INVOKABLE void untilLink(const QString &id);
    Q_INVOKABLE void copyLink(const QString &id);
    Q_INVOKABLE void openLink(const QString &id);
    Q_INVOKABLE void deleteLink(const QString &id);
    Q_INVOKABLE void uploadLeftBehind(const QString &path);
    Q_INVOKABLE void trashLeftBehind(const QString &path);

Q_SIGNALS:
    void phaseChanged();
    void elapsedChanged();
    void cameraEnabledChanged();
    void micEnabledChanged();
    void showInDockChanged();
    void bubbleInVideoChanged();
    void newLifetimeChanged();
    void leftBehindChanged();

private:
    AppState &m_state;
    ClipboardWriter &m_clipboard;
    QUrl m_serviceOrigin;
    NowFunction m_now;
    RecentLinksModel *m_links;
    RenameFlow *m_rename;
};
