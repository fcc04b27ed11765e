#include "WaylandTestServices.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QUuid>

#include <fcntl.h>

bool TestProcess::start(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment)
{
    stopChild(*this);
    setProcessEnvironment(environment);
    setStandardErrorFile(QProcess::nullDevice());
    QProcess::start(program, arguments);
    return waitForStarted(5000);
}

PrivateSessionBus::~PrivateSessionBus()
{
    for (const QString &name : m_connections)
        QDBusConnection::disconnectFromBus(name);
}

bool PrivateSessionBus::start()
{
    m_daemon.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--session"), QStringLiteral("--nofork"),
                    QStringLiteral("--address=unix:dir=") + m_folder.path(), QStringLiteral("--print-address=1")},
                   QProcessEnvironment::systemEnvironment());
    // The address is printed once the bus takes connections; its socket file
    // appears before that.
    while (!m_daemon.canReadLine() && m_daemon.waitForReadyRead(5000)) {
    }
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    return !m_address.isEmpty();
}

QDBusConnection PrivateSessionBus::connect()
{
    m_connections << QUuid::createUuid().toString();
    return QDBusConnection::connectToBus(m_address, m_connections.last());
}

QProcessEnvironment PrivatePipeWire::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
    environment.insert(QStringLiteral("XDG_STATE_HOME"), m_runtime.path() + QStringLiteral("/state"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_runtime.path() + QStringLiteral("/config"));
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_bus.address());
    environment.remove(QStringLiteral("PIPEWIRE_REMOTE"));
    environment.remove(QStringLiteral("PIPEWIRE_RUNTIME_DIR"));
    return environment;
}

bool PrivatePipeWire::start()
{
    const QString socket = m_runtime.path() + QStringLiteral("/pipewire-0");
    // WirePlumber leaves at once without a session bus.
    return !QStandardPaths::findExecutable(QStringLiteral("gst-launch-1.0")).isEmpty() &&
           !QStandardPaths::findExecutable(QStringLiteral("pw-dump")).isEmpty() && m_bus.start() &&
           m_pipewire.start(QStringLiteral("pipewire"), {}, environment()) &&
           waitUntil([&] { return QFileInfo::exists(socket); }, 15000) &&
           m_wireplumber.start(QStringLiteral("wireplumber"), {}, environment());
}

UniqueFd PrivatePipeWire::connect() const
{
    QLocalSocket socket;
    socket.connectToServer(m_runtime.path() + QStringLiteral("/pipewire-0"));
    return UniqueFd(socket.waitForConnected(5000) ? ::fcntl(int(socket.socketDescriptor()), F_DUPFD_CLOEXEC, 0) : -1);
}

std::optional<uint32_t> PrivatePipeWire::nodeId(const QString &nodeName) const
{
    QProcess dump;
    dump.setProcessEnvironment(environment());
    dump.start(QStringLiteral("pw-dump"), {});
    if (!dump.waitForFinished(5000))
        return std::nullopt;
    const QJsonArray objects = QJsonDocument::fromJson(dump.readAllStandardOutput()).array();
    for (const QJsonValue &object : objects) {
        const QJsonObject props = object[QStringLiteral("info")][QStringLiteral("props")].toObject();
        if (object[QStringLiteral("type")].toString() == QStringLiteral("PipeWire:Interface:Node") &&
            props[QStringLiteral("node.name")].toString() == nodeName)
            return uint32_t(object[QStringLiteral("id")].toInt());
    }
    return std::nullopt;
}

std::optional<uint32_t> PrivatePipeWire::startProducer(TestProcess &producer, const QString &pattern,
                                                       const QString &caps)
{
    // A fresh name each time: the node of a producer just stopped may still be listed.
    const QString nodeName = QStringLiteral("mivra-test-screen-") + QUuid::createUuid().toString(QUuid::Id128);
    const QString pipeline = QStringLiteral("videotestsrc pattern=%1 ! %2 ! pipewiresink mode=provide "
                                            "stream-properties=props,node.name=%3,media.class=Video/Source")
                                 .arg(pattern, caps, nodeName);
    if (!producer.start(QStringLiteral("gst-launch-1.0"), QProcess::splitCommand(pipeline), environment()))
        return std::nullopt;
    std::optional<uint32_t> id;
    waitUntil([&] { return (id = nodeId(nodeName)).has_value() || producer.state() != QProcess::Running; }, 15000);
    return id;
}
