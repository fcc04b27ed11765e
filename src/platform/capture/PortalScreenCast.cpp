#include "platform/capture/PortalScreenCast.h"

#include "base/Diag.h"
#include "platform/PreferenceStore.h"
#include "platform/capture/RecorderError.h"

#include <QCoreApplication>
#include <QCoroDBusPendingCall>
#include <QCoroSignal>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusUnixFileDescriptor>

namespace {
const QString kObjectPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kScreenCast = QStringLiteral("org.freedesktop.portal.ScreenCast");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");
const QString kSession = QStringLiteral("org.freedesktop.portal.Session");
constexpr int kCallTimeoutMs = 25000;

// Bits of AvailableSourceTypes and AvailableCursorModes.
constexpr uint kMonitorSource = 1;
constexpr uint kCursorEmbedded = 2;
// persist_mode: until the user revokes it.
constexpr uint kPersistUntilRevoked = 2;
// Portals accept restore tokens from interface version 4 on.
constexpr uint kFirstPersistingVersion = 4;

[[noreturn]] void refuse(const QString &text)
{
    throw RecorderError::failed(text);
}

// The portal runs, but nothing for this desktop implements screen sharing.
const QString kNoBackend =
    QStringLiteral("No screen-sharing backend for this desktop is installed, so the screen cannot be recorded. "
                   "Install the one for your desktop: xdg-desktop-portal-gnome, xdg-desktop-portal-kde or "
                   "xdg-desktop-portal-wlr.");

[[noreturn]] void refuseCall(const QString &method, const QDBusMessage &reply)
{
    Diag::log(QStringLiteral("portal %1 failed: %2: %3").arg(method, reply.errorName(), reply.errorMessage()));
    // The first call finds out whether there is a ScreenCast portal at all:
    // no service, or a portal without a backend that implements ScreenCast.
    if (method == QStringLiteral("GetAll")) {
        const QString error = reply.errorName();
        if (error == QLatin1String("org.freedesktop.DBus.Error.UnknownInterface") ||
            error == QLatin1String("org.freedesktop.DBus.Error.InvalidArgs"))
            refuse(kNoBackend);
        refuse(QStringLiteral("The desktop offers no screen sharing portal (xdg-desktop-portal), so the screen "
                              "cannot be recorded."));
    }
    refuse(QStringLiteral("The desktop's screen sharing portal reported an error, so the screen cannot be recorded."));
}

// Two integers, as (ii) arrives: demarshalled by Qt or still as an argument.
std::optional<QPoint> pairOf(const QVariant &value)
{
    if (value.canConvert<QDBusArgument>()) {
        const QDBusArgument argument = value.value<QDBusArgument>();
        int first = 0;
        int second = 0;
        argument.beginStructure();
        argument >> first >> second;
        argument.endStructure();
        return QPoint(first, second);
    }
    if (value.canConvert<QPoint>())
        return value.toPoint();
    if (value.canConvert<QSize>())
        return QPoint(value.toSize().width(), value.toSize().height());
    return std::nullopt;
}

// The first monitor stream of Start's a(ua{sv}) "streams".
std::optional<PortalStream> firstStream(const QVariant &streams)
{
    if (!streams.canConvert<QDBusArgument>())
        return std::nullopt;
    const QDBusArgument argument = streams.value<QDBusArgument>();
    std::optional<PortalStream> first;
    argument.beginArray();
    while (!argument.atEnd()) {
        uint nodeId = 0;
        QVariantMap properties;
        argument.beginStructure();
        argument >> nodeId >> properties;
        argument.endStructure();
        if (first)
            continue;
        first.emplace();
        first->nodeId = nodeId;
        if (const auto position = pairOf(properties.value(QStringLiteral("position"))))
            first->position = *position;
        if (const auto size = pairOf(properties.value(QStringLiteral("size"))))
            first->sizePoints = QSize(size->x(), size->y());
    }
    argument.endArray();
    return first;
}

QString sessionHandleOf(const QVariantMap &results)
{
    const QVariant value = results.value(QStringLiteral("session_handle"));
    if (value.canConvert<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    return value.toString();
}
} // namespace

PortalResponse::PortalResponse(QDBusConnection bus, QString service, QString path)
    : m_bus(std::move(bus)), m_service(std::move(service)), m_path(std::move(path))
{
    connectTo(m_path);
}

PortalResponse::~PortalResponse()
{
    disconnectFrom(m_path);
}

void PortalResponse::watch(const QString &path)
{
    if (path == m_path)
        return;
    disconnectFrom(m_path);
    m_path = path;
    connectTo(m_path);
}

void PortalResponse::connectTo(const QString &path)
{
    m_bus.connect(m_service, path, kRequest, QStringLiteral("Response"), this, SLOT(onResponse(uint, QVariantMap)));
}

void PortalResponse::disconnectFrom(const QString &path)
{
    m_bus.disconnect(m_service, path, kRequest, QStringLiteral("Response"), this, SLOT(onResponse(uint, QVariantMap)));
}

void PortalResponse::onResponse(uint code, const QVariantMap &results)
{
    if (m_code)
        return;
    m_code = code;
    m_results = results;
    Q_EMIT answered(code);
}

PortalScreenCast::PortalScreenCast(std::shared_ptr<PreferenceStore> preferences, Options options, QObject *parent)
    : QObject(parent), m_preferences(std::move(preferences)), m_options(std::move(options))
{
}

QString PortalScreenCast::nextToken()
{
    return QStringLiteral("mivra%1_%2").arg(QCoreApplication::applicationPid()).arg(++m_tokens);
}

QCoro::Task<PortalScreenCast::Abilities> PortalScreenCast::readAbilities()
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        m_options.service, kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"));
    call << kScreenCast;
    const QDBusMessage reply = co_await m_options.bus.asyncCall(call, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        refuseCall(QStringLiteral("GetAll"), reply);
    const QVariantMap properties = qdbus_cast<QVariantMap>(reply.arguments().constFirst());
    co_return Abilities{properties.value(QStringLiteral("version")).toUInt(),
                        properties.value(QStringLiteral("AvailableSourceTypes")).toUInt(),
                        properties.value(QStringLiteral("AvailableCursorModes")).toUInt()};
}

QCoro::Task<QVariantMap> PortalScreenCast::request(const QString &method, QVariantList arguments, QVariantMap options)
{
    // The request's object path follows from our bus name and the token, so
    // its answer is watched before the call goes out.
    const QString token = nextToken();
    options.insert(QStringLiteral("handle_token"), token);
    arguments << options;
    const QString sender = m_options.bus.baseService().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
    PortalResponse response(m_options.bus, m_options.service,
                            kObjectPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + token);

    QDBusMessage call = QDBusMessage::createMethodCall(m_options.service, kObjectPath, kScreenCast, method);
    call.setArguments(arguments);
    const QDBusMessage reply = co_await m_options.bus.asyncCall(call, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        refuseCall(method, reply);
    response.watch(qdbus_cast<QDBusObjectPath>(reply.arguments().constFirst()).path());

    if (!response.code()) {
        const auto answered = co_await qCoro(&response, &PortalResponse::answered, m_options.answerTimeout);
        if (!answered) {
            // Withdraws the dialog, if the desktop shows one.
            m_options.bus.send(
                QDBusMessage::createMethodCall(m_options.service, response.path(), kRequest, QStringLiteral("Close")));
            Diag::log(
                QStringLiteral("portal %1: no answer within %2 ms").arg(method).arg(m_options.answerTimeout.count()));
            refuse(QStringLiteral("The desktop did not answer the request to share the screen in time."));
        }
    }
    switch (*response.code()) {
    case 0:
        co_return response.results();
    case 1:
        Diag::log(QStringLiteral("portal %1: cancelled by the user").arg(method));
        refuse(QStringLiteral("Screen sharing was cancelled, so the recording did not start."));
    default:
        Diag::log(QStringLiteral("portal %1: refused (%2)").arg(method).arg(*response.code()));
        refuse(QStringLiteral("The desktop refused to share the screen, so the recording did not start."));
    }
}

QCoro::Task<PortalStream> PortalScreenCast::open()
{
    const Abilities abilities = co_await readAbilities();
    if (abilities.sourceTypes == 0)
        refuse(kNoBackend);
    if (!(abilities.sourceTypes & kMonitorSource))
        refuse(QStringLiteral("The desktop's screen sharing portal cannot share a whole screen."));
    // Built before the co_await: GCC 12 cannot keep an initializer list's
    // array in a coroutine frame.
    QVariantMap createOptions;
    createOptions.insert(QStringLiteral("session_handle_token"), nextToken());
    const QVariantMap created = co_await request(QStringLiteral("CreateSession"), QVariantList(), createOptions);
    const QString session = sessionHandleOf(created);
    if (session.isEmpty())
        refuse(QStringLiteral("The desktop's screen sharing portal reported an error, so the screen cannot be "
                              "recorded."));
    // Whatever fails from here on, the desktop must not go on sharing.
    std::exception_ptr failure;
    try {
        co_return co_await startSession(session, abilities);
    } catch (...) {
        failure = std::current_exception();
    }
    close(session);
    std::rethrow_exception(failure);
}

QCoro::Task<PortalStream> PortalScreenCast::startSession(QString session, Abilities abilities)
{
    const QDBusObjectPath sessionPath(session);
    QVariantMap select;
    select.insert(QStringLiteral("types"), kMonitorSource);
    select.insert(QStringLiteral("multiple"), false);
    // Without an embedded cursor the portal's default (hidden) is better than
    // a request it would refuse.
    if (abilities.cursorModes & kCursorEmbedded)
        select.insert(QStringLiteral("cursor_mode"), kCursorEmbedded);
    if (abilities.version >= kFirstPersistingVersion) {
        select.insert(QStringLiteral("persist_mode"), kPersistUntilRevoked);
        const std::optional<QString> token = m_preferences->textValue(restoreTokenKey);
        if (token && !token->isEmpty())
            select.insert(QStringLiteral("restore_token"), *token);
    }
    QVariantList selectArguments;
    selectArguments << QVariant::fromValue(sessionPath);
    co_await request(QStringLiteral("SelectSources"), selectArguments, select);

    // No parent window: the request comes from the tray, not from a window.
    QVariantList startArguments;
    startArguments << QVariant::fromValue(sessionPath) << QString();
    const QVariantMap started = co_await request(QStringLiteral("Start"), startArguments, QVariantMap());
    keepRestoreToken(started);
    std::optional<PortalStream> stream = firstStream(started.value(QStringLiteral("streams")));
    if (!stream)
        refuse(QStringLiteral("The desktop shared no screen, so the recording did not start."));

    QDBusMessage call = QDBusMessage::createMethodCall(m_options.service, kObjectPath, kScreenCast,
                                                       QStringLiteral("OpenPipeWireRemote"));
    call << QVariant::fromValue(sessionPath) << QVariantMap();
    const QDBusMessage reply = co_await m_options.bus.asyncCall(call, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        refuseCall(QStringLiteral("OpenPipeWireRemote"), reply);
    const QDBusUnixFileDescriptor descriptor = qdbus_cast<QDBusUnixFileDescriptor>(reply.arguments().constFirst());
    // The descriptor object closes its copy; ours is a second one.
    stream->remote = UniqueFd(descriptor.isValid() ? fcntl(descriptor.fileDescriptor(), F_DUPFD_CLOEXEC, 0) : -1);
    if (!stream->remote.valid())
        refuse(QStringLiteral("The desktop did not hand over the shared screen's video connection."));
    stream->sessionHandle = session;
    Diag::log(QStringLiteral("portal: sharing node %1 at %2,%3 size %4x%5")
                  .arg(stream->nodeId)
                  .arg(stream->position.x())
                  .arg(stream->position.y())
                  .arg(stream->sizePoints.width())
                  .arg(stream->sizePoints.height()));
    co_return std::move(*stream);
}

void PortalScreenCast::keepRestoreToken(const QVariantMap &startResults)
{
    // A token is good for one session; the desktop hands out the next one.
    const QString token = startResults.value(QStringLiteral("restore_token")).toString();
    if (token.isEmpty())
        m_preferences->remove(restoreTokenKey);
    else
        m_preferences->setValue(restoreTokenKey, token);
}

void PortalScreenCast::close(const QString &sessionHandle)
{
    if (sessionHandle.isEmpty())
        return;
    m_options.bus.send(
        QDBusMessage::createMethodCall(m_options.service, sessionHandle, kSession, QStringLiteral("Close")));
}

bool PortalScreenCast::remembersChoice(const PreferenceStore &preferences)
{
    const std::optional<QString> token = preferences.textValue(restoreTokenKey);
    return token && !token->isEmpty();
}
