#include "FakeScreenCastPortal.h"

#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QPoint>

#include <unistd.h>

namespace {
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");

// Start's "streams": a(ua{sv}), a node id and its properties each.
using SharedStreams = QList<std::pair<uint, QVariantMap>>;

QString senderPart(const QDBusMessage &message)
{
    return message.service().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
}
} // namespace

bool FakeScreenCastPortal::registerOn(QDBusConnection bus)
{
    qDBusRegisterMetaType<std::pair<uint, QVariantMap>>();
    qDBusRegisterMetaType<SharedStreams>();
    m_bus = bus;
    return m_bus.registerVirtualObject(kPath, this, QDBusConnection::SubPath) &&
           m_bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop"));
}

void FakeScreenCastPortal::note(const QString &method, const Call &call)
{
    methods << method;
    last.insert(method, call);
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
    const QString member = message.member();
    const QVariantList args = message.arguments();
    // Every portal method takes its options last.
    const QVariantMap options = qdbus_cast<QVariantMap>(args.value(args.size() - 1));
    const bool camera = message.interface() == QStringLiteral("org.freedesktop.portal.Camera");

    QVariant reply; // none: an empty reply, also to what it does not know
    QVariantMap results;
    if (member == QStringLiteral("Get")) { // the camera's IsCameraPresent
        reply = QVariant::fromValue(QDBusVariant(cameraPresent));
    } else if (member == QStringLiteral("GetAll")) {
        reply = QVariantMap{{QStringLiteral("version"), version},
                            {QStringLiteral("AvailableSourceTypes"), sourceTypes},
                            {QStringLiteral("AvailableCursorModes"), cursorModes}};
    } else if (member == QStringLiteral("Close")) {
        (message.path().contains(QStringLiteral("/session/")) ? closedSessions : closedRequests) << message.path();
    } else if (member == QStringLiteral("OpenPipeWireRemote") && camera) {
        if (!cameraAllowed)
            return void(m_bus.send(message.createErrorReply(QDBusError::AccessDenied, QStringLiteral("denied"))));
        reply = QVariant::fromValue(QDBusUnixFileDescriptor(0));
    } else if (member == QStringLiteral("OpenPipeWireRemote")) {
        note(member, {QString(), options});
        const int fd = makeRemote();
        reply = QVariant::fromValue(QDBusUnixFileDescriptor(fd)); // a copy
        ::close(fd);
    } else if (member == QStringLiteral("CreateSession")) {
        results.insert(QStringLiteral("session_handle"),
                       kPath + QStringLiteral("/session/") + senderPart(message) + QLatin1Char('/') +
                           options.value(QStringLiteral("session_handle_token")).toString());
        return answer(message, options, results);
    } else if (member == QStringLiteral("Start")) {
        if (!restoreTokenToGive.isEmpty())
            results.insert(QStringLiteral("restore_token"), restoreTokenToGive);
        if (shareStream) {
            const QVariantMap properties{{QStringLiteral("position"), QVariant::fromValue(QPoint(0, 0))},
                                         {QStringLiteral("size"), QVariant::fromValue(size)},
                                         {QStringLiteral("source_type"), 1u}};
            results.insert(QStringLiteral("streams"), QVariant::fromValue(SharedStreams{{nodeId, properties}}));
        }
        return answer(message, options, results);
    } else if (member == QStringLiteral("SelectSources") || member == QStringLiteral("AccessCamera")) {
        if (camera)
            cameraAllowed = answers.value(member, Answer::success) == Answer::success;
        return answer(message, options, results);
    }
    m_bus.send(reply.isValid() ? message.createReply(reply) : message.createReply());
}

void FakeScreenCastPortal::answer(const QDBusMessage &message, const QVariantMap &options, const QVariantMap &results)
{
    const QString requestPath = kPath + QStringLiteral("/request/") + senderPart(message) + QLatin1Char('/') +
                                options.value(QStringLiteral("handle_token")).toString();
    note(message.member(), {requestPath, options});
    const Answer planned = answers.value(message.member(), Answer::success);
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
