#pragma once

#include <QObject>
#include <QPointer>
#include <QWindow>

// The app's main window as the recording road sees it: it is minimised
// before a capture and brought back afterwards.
class MainWindowAccess : public QObject {
    Q_OBJECT

public:
    enum class Presence { absent, hidden, minimised, shown };

    using QObject::QObject;
    virtual Presence presence() const = 0;
    // Asks the window to minimise; `minimised` follows when the window
    // manager confirms (some never do). A utility window is hidden instead.
    virtual void minimise() = 0;
    // Un-minimises and activates the app in front of the others.
    virtual void restore() = 0;
    // Raises and activates the main window; false when there is none.
    virtual bool bringToFront() = 0;

Q_SIGNALS:
    void minimised();
};

// Looks the window up among the app's top-level windows: the first whose
// object name begins with "main", else the first titled "Mivra Video".
class QtMainWindowAccess final : public MainWindowAccess {
    Q_OBJECT

public:
    using MainWindowAccess::MainWindowAccess;
    static QWindow *find();

    Presence presence() const override;
    void minimise() override;
    void restore() override;
    bool bringToFront() override;

private:
    QPointer<QWindow> m_watched;
    QPointer<QWindow> m_hiddenForRecording;
    QMetaObject::Connection m_stateConnection;
};
