#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QSize>

#include <functional>

#include <fcntl.h>

// A ScreenCast (and Camera) portal scripted by the test, serving
// /org/freedesktop/portal/desktop and its request and session objects on a
// private bus. It records what it was asked.
class FakeScreenCastPortal final : public QDBusVirtualObject {
    Q_OBJECT
public:
    enum class Answer { success = 0, cancelled = 1, refused = 2, never = 99 };
    struct Call {
        QString requestPath; // where the answer goes
        QVariantMap options;
    };

    // Unregistered by its destruction.
    bool registerOn(QDBusConnection bus);

    // What it offers.
    uint version = 4;
    uint sourceTypes = 1 | 2;       // monitor, window
    uint cursorModes = 1 | 2 | 4;   // hidden, embedded, metadata
    QHash<QString, Answer> answers; // by method; success when absent
    bool answerBeforeReply = false; // the Response goes out before the method returns
    QString restoreTokenToGive = QStringLiteral("token-1");
    bool shareStream = true;
    uint nodeId = 42;
    QSize size{1280, 720};
    // Gives the descriptor OpenPipeWireRemote returns; the fake closes it. By
    // default this program's file, which a test can tell apart.
    std::function<int()> makeRemote = [] { return ::open("/proc/self/exe", O_RDONLY | O_CLOEXEC); };
    // The camera portal: AccessCamera answers as `answers` say, and once it
    // succeeded the camera's OpenPipeWireRemote is allowed.
    bool cameraPresent = true;
    bool cameraAllowed = false;

    // What it saw.
    QStringList methods;       // in the order called
    QHash<QString, Call> last; // each method's latest call
    QStringList closedRequests;
    QStringList closedSessions;

    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override;

private:
    void handle(const QDBusMessage &message);
    void answer(const QDBusMessage &message, const QVariantMap &options, const QVariantMap &results);
    void note(const QString &method, const Call &call);

    QDBusConnection m_bus{QString()};
};
