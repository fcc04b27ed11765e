#pragma once

#include "app/RecordingParts.h"
#include "controls/BarPlacement.h"

#include <QList>
#include <QObject>
#include <QPointer>

#include <memory>

class QQmlComponent;
class QQmlEngine;
class QQuickItem;
class QQuickWindow;

// The floating window with the recording controls: at the top of the screen
// when there is no bubble, beside the bubble and following it when there is.
// Its place is decided by BarGeometry and published in `placement()`.
class RecordingBar final : public QObject, public RecordingBarControl {
    Q_OBJECT
public:
    explicit RecordingBar(QObject *parent = nullptr);
    ~RecordingBar() override;

    // Whether our own recordings may show the bar: MIVRA_CAPTURABLE_CONTROLS
    // is "1". Read once per process.
    static bool capturable();

    void show(QScreen *screen, AppState *state, bool showHint) override;
    void attach(QWindow *bubbleWindow) override;
    void detach() override;
    void hide() override;

    BarPlacement *placement() { return &m_placement; }
    // The bar window once shown; kept (hidden) afterwards.
    QWindow *panel() const;

private:
    void place(QWindow *near);
    void createPanel();
    void dropContent();

    std::unique_ptr<QQuickWindow> m_panel;
    std::unique_ptr<QQmlEngine> m_engine;
    QQmlComponent *m_component = nullptr; // owned by the engine
    QPointer<QQuickItem> m_content;
    QPointer<QObject> m_backend;
    QList<QPointer<QObject>> m_dropped; // content waiting for its deferred delete
    QPointer<QWindow> m_bubble;
    QList<QMetaObject::Connection> m_moveObserver;
    BarPlacement m_placement;
    bool m_hint = false;
};
