#include "FakeScreenCastPortal.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QMetaObject>

#include <unistd.h>

namespace {
const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");

// One entry of Start's a(ua{sv}) "streams", as a portal marshals it.
struct SharedStream {
    uint nodeId = 0;
    QVariantMap properties;
};
} // namespace

Q_DECLARE_METATYPE(SharedStream)

namespace {
QDBusArgument &operator<<(QDBusArgument &argument, const SharedStream &stream)
{
    argument.beginStructure();
    argument << stream.nodeId << stream.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, SharedStream &stream)
{
    argument.beginStructure();
    argument >> stream.nodeId >> stream.properties;
    argument.endStructure();
    return argument;
}

QString senderPart(const QDBusMessage &message)
{
    return message.service().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
}
} // namespace

bool FakeScreenCastPortal::registerOn(QDBusConnection bus)
{
    qDBusRegisterMetaType<SharedStream>();
    qDBusRegisterMetaType<QList<SharedStream>>();
    m_bus = bus;
    return m_bus.registerVirtualObject(kPath, this, QDBusConnection::SubPath) && m_bus.registerService(kService);
}

void FakeScreenCastPortal::unregister()
{
    if (!m_bus.isConnected())
        return;
    m_bus.unregisterService(kService);
    m_bus.unregisterObject(kPath, QDBusConnection::UnregisterTree);
}

QStringList FakeScreenCastPortal::methods() const
{
    QStringList names;
    for (const Call &call : calls)
        names << call.method;
    return names;
}

FakeScreenCastPortal::Call FakeScreenCastPortal::callOf(const QString &method) const
{
    for (const Call &call : calls) {
        if (call.method == method)
            return call;
    }
    return Call{};
}

QString FakeScreenCastPortal::introspect(const QString &) const
{
    return QString();
}

bool FakeScreenCastPortal::handleMessage(const QDBusMessage &message, const QDBusConnection &)
{
    // Answered on the test's thread, like a portal that takes its time.
    QMetaObject::invokeMethod(
        this, [this, message] { handle(message); }, Qt::QueuedConnection);
    return true;
}

void FakeScreenCastPortal::handle(const QDBusMessage &message)
{
    const QString interface = message.interface();
    const QString member = message.member();
    const QVariantList args = message.arguments();

    if (member == QStringLiteral("Get")) {
        m_bus.send(message.createReply(QVariant::fromValue(QDBusVariant(cameraPresent))));
        return;
    }
    if (interface == QStringLiteral("org.freedesktop.portal.Camera")) {
        if (member == QStringLiteral("AccessCamera")) {
            cameraAllowed = answers.value(member, Answer::success) == Answer::success;
            answer(message, member, qdbus_cast<QVariantMap>(args.value(0)), {});
        } else if (cameraAllowed) {
            m_bus.send(message.createReply(QVariant::fromValue(QDBusUnixFileDescriptor(0))));
        } else {
            m_bus.send(message.createErrorReply(QDBusError::AccessDenied, QStringLiteral("Permission denied")));
        }
        return;
    }
    if (interface == QStringLiteral("org.freedesktop.DBus.Properties")) {
        QVariantMap properties{{QStringLiteral("version"), version},
                               {QStringLiteral("AvailableSourceTypes"), sourceTypes},
                               {QStringLiteral("AvailableCursorModes"), cursorModes}};
        m_bus.send(message.createReply(QVariant::fromValue(properties)));
        return;
    }
    if (interface == QStringLiteral("org.freedesktop.portal.Request") && member == QStringLiteral("Close")) {
        closedRequests << message.path();
        m_bus.send(message.createReply());
        return;
    }
    if (interface == QStringLiteral("org.freedesktop.portal.Session") && member == QStringLiteral("Close")) {
        closedSessions << message.path();
        m_bus.send(message.createReply());
        return;
    }
    if (interface != QStringLiteral("org.freedesktop.portal.ScreenCast") || args.isEmpty()) {
        m_bus.send(message.createErrorReply(QDBusError::UnknownMethod, QStringLiteral("no such method")));
        return;
    }

    const QVariantMap options = qdbus_cast<QVariantMap>(args.constLast());
    if (member == QStringLiteral("OpenPipeWireRemote")) {
        calls << Call{member, QString(), options};
        const int fd = makeRemote ? makeRemote() : -1;
        m_bus.send(message.createReply(QVariant::fromValue(QDBusUnixFileDescriptor(fd))));
        if (fd >= 0)
            ::close(fd);
        return;
    }

    QVariantMap results;
    if (member == QStringLiteral("CreateSession")) {
        results.insert(QStringLiteral("session_handle"),
                       kPath + QStringLiteral("/session/") + senderPart(message) + QLatin1Char('/') +
                           options.value(QStringLiteral("session_handle_token")).toString());
        ++m_sessions;
    } else if (member == QStringLiteral("Start")) {
        if (!restoreTokenToGive.isEmpty())
            results.insert(QStringLiteral("restore_token"), restoreTokenToGive);
        if (shareStream) {
            SharedStream stream{nodeId,
                                {{QStringLiteral("position"), QVariant::fromValue(position)},
                                 {QStringLiteral("size"), QVariant::fromValue(size)},
                                 {QStringLiteral("source_type"), 1u}}};
            results.insert(QStringLiteral("streams"), QVariant::fromValue(QList<SharedStream>{stream}));
        }
    } else if (member != QStringLiteral("SelectSources")) {
        m_bus.send(message.createErrorReply(QDBusError::UnknownMethod, QStringLiteral("no such method")));
        return;
    }
    answer(message, member, options, results);
}

void FakeScreenCastPortal::answer(const QDBusMessage &message, const QString &method, const QVariantMap &options,
                                  const QVariantMap &results)
{
    const QString requestPath = kPath + QStringLiteral("/request/") + senderPart(message) + QLatin1Char('/') +
                                options.value(QStringLiteral("handle_token")).toString();
    calls << Call{method, requestPath, options};
    const Answer planned = answers.value(method, Answer::success);
    QDBusMessage response = QDBusMessage::createSignal(requestPath, QStringLiteral("org.freedesktop.portal.Request"),
                                                       QStringLiteral("Response"));
    response << uint(planned) << (planned == Answer::success ? results : QVariantMap());
    const QDBusMessage reply = message.createReply(QVariant::fromValue(QDBusObjectPath(requestPath)));
    if (answerBeforeReply && planned != Answer::never)
        m_bus.send(response);
    m_bus.send(reply);
    if (!answerBeforeReply && planned != Answer::never)
        m_bus.send(response);
}
