#pragma once

#include <QObject>

// Something a task can co_await until another party opens it.
class SignalGate : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;
    bool isOpen() const { return m_open; }
    void open()
    {
        m_open = true;
        Q_EMIT opened();
    }

Q_SIGNALS:
    void opened();

private:
    bool m_open = false;
};
