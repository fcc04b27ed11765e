#pragma once

#include <QObject>
#include <QPointer>
#include <QQuickWindow>

class QQmlApplicationEngine;
class Updates;

// Opens the "Check for Updates…" window whenever `updates` asks for it, and
// brings it forward when it is open already.
class UpdatesWindowHost final : public QObject {
    Q_OBJECT
public:
    explicit UpdatesWindowHost(Updates &updates, QObject *parent = nullptr);
    ~UpdatesWindowHost() override;

    void show();
    QQuickWindow *window() const { return m_window; }

private:
    Updates &m_updates;
    QQmlApplicationEngine *m_engine = nullptr;
    QPointer<QQuickWindow> m_window;
};
