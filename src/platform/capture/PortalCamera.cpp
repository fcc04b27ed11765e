#include "platform/capture/PortalCamera.h"

#include "base/Diag.h"

#include <QCoreApplication>
#include <QCoroDBusPendingCall>
#include <QCoroSignal>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QFile>

namespace {
const QString kObjectPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kCamera = QStringLiteral("org.freedesktop.portal.Camera");
// Sandbox checks are asked every second while the setup card shows.
constexpr int kStatusTimeoutMs = 2000;
} // namespace

PortalCamera::PortalCamera(PortalScreenCast::Options options) : m_options(std::move(options))
{
}

bool PortalCamera::sandboxed()
{
    return QFile::exists(QStringLiteral("/.flatpak-info"));
}

SetupPermissions::Authorization PortalCamera::status()
{
    QDBusMessage present = QDBusMessage::createMethodCall(
        m_options.service, kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    present << kCamera << QStringLiteral("IsCameraPresent");
    const QDBusMessage answer = m_options.bus.call(present, QDBus::Block, kStatusTimeoutMs);
    if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().isEmpty() ||
        !qdbus_cast<QDBusVariant>(answer.arguments().constFirst()).variant().toBool())
        return SetupPermissions::Authorization::notDetermined;
    // The portal hands out the camera's PipeWire connection only once allowed.
    QDBusMessage open =
        QDBusMessage::createMethodCall(m_options.service, kObjectPath, kCamera, QStringLiteral("OpenPipeWireRemote"));
    open << QVariantMap();
    const QDBusMessage remote = m_options.bus.call(open, QDBus::Block, kStatusTimeoutMs);
    return remote.type() == QDBusMessage::ReplyMessage ? SetupPermissions::Authorization::authorized
                                                       : SetupPermissions::Authorization::notDetermined;
}

QCoro::Task<> PortalCamera::ask()
{
    const QString token = QStringLiteral("mivracam%1_%2").arg(QCoreApplication::applicationPid()).arg(++m_tokens);
    const QString sender = m_options.bus.baseService().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
    PortalResponse response(m_options.bus, m_options.service,
                            kObjectPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + token);
    QDBusMessage call =
        QDBusMessage::createMethodCall(m_options.service, kObjectPath, kCamera, QStringLiteral("AccessCamera"));
    QVariantMap options; // not a braced list: GCC 12 loses its array in a coroutine frame
    options.insert(QStringLiteral("handle_token"), token);
    call << options;
    const QDBusMessage reply = co_await m_options.bus.asyncCall(call, kStatusTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        Diag::log(QStringLiteral("camera portal: AccessCamera failed: ") + reply.errorMessage());
        co_return;
    }
    response.watch(qdbus_cast<QDBusObjectPath>(reply.arguments().constFirst()).path());
    if (!response.code() && !co_await qCoro(&response, &PortalResponse::answered, m_options.answerTimeout))
        Diag::log(QStringLiteral("camera portal: no answer in time"));
    else if (*response.code() != 0)
        Diag::log(QStringLiteral("camera portal: not allowed (%1)").arg(*response.code()));
}
