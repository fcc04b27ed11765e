#include "platform/SingleInstance.h"

#include <QCoroIODevice>
#include <QCoroLocalSocket>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace {
const QByteArray kGreeting = QByteArrayLiteral("MIVRA1\n");
const QByteArray kAnswer = QByteArrayLiteral("ok\n");
constexpr int kClientTimeoutMs = 5000;

// URLs from a complete message, or none while it is still incomplete.
std::optional<QList<QUrl>> decodeMessage(const QByteArray &buffer, bool *malformed)
{
    *malformed = false;
    if (buffer.size() < kGreeting.size())
        return std::nullopt;
    if (!buffer.startsWith(kGreeting)) {
        *malformed = true;
        return std::nullopt;
    }
    const qsizetype end = buffer.indexOf("\n\n", kGreeting.size() - 1);
    if (end < 0)
        return std::nullopt;
    QList<QUrl> urls;
    const QList<QByteArray> lines = buffer.mid(kGreeting.size(), end - kGreeting.size() + 1).split('\n');
    for (const QByteArray &line : lines) {
        if (line.isEmpty())
            continue;
        const QUrl url(QString::fromUtf8(line), QUrl::StrictMode);
        if (url.isValid())
            urls.append(url);
    }
    return urls;
}
} // namespace

namespace SingleInstance {

// A plain connect() answers at once for a local socket.
bool someoneListens(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address{};
    if (name.size() >= qsizetype(sizeof address.sun_path))
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

QString defaultSocketPath()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder + QStringLiteral("/mivra-instance");
}

QCoro::Task<HandOver> handOver(QString socketPath, QList<QUrl> urls, int timeoutMs)
{
    const std::chrono::milliseconds timeout(timeoutMs);
    if (!someoneListens(socketPath))
        co_return HandOver::noInstance;
    QLocalSocket socket;
    if (!co_await qCoro(socket).connectToServer(socketPath, QIODevice::ReadWrite, timeout))
        co_return HandOver::noInstance;
    QByteArray message = kGreeting;
    for (const QUrl &url : urls)
        message += url.toEncoded() + '\n';
    message += '\n';
    socket.write(message);
    QByteArray answer;
    while (!answer.endsWith('\n')) {
        const QByteArray more = co_await qCoro(socket).read(kAnswer.size() - answer.size(), timeout);
        if (more.isEmpty())
            co_return HandOver::noAnswer;
        answer += more;
    }
    co_return answer == kAnswer ? HandOver::delivered : HandOver::noAnswer;
}

} // namespace SingleInstance

InstanceServer::InstanceServer(QString socketPath, QObject *parent)
    : QObject(parent), m_socketPath(std::move(socketPath))
{
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, &InstanceServer::accept);
}

InstanceServer::~InstanceServer() = default;

bool InstanceServer::listen()
{
    // Qt would quietly replace a live socket, so ask first; a socket nobody
    // answers on was left by a run that ended without closing it.
    if (SingleInstance::someoneListens(m_socketPath))
        return false;
    QLocalServer::removeServer(m_socketPath);
    return m_server.listen(m_socketPath);
}

void InstanceServer::accept()
{
    while (QLocalSocket *socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        // A launch that goes quiet is dropped, so it cannot hold a connection open.
        auto *deadline = new QTimer(socket);
        deadline->setSingleShot(true);
        connect(deadline, &QTimer::timeout, socket, &QLocalSocket::abort);
        deadline->start(kClientTimeoutMs);
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            QByteArray buffer = socket->property("mivraBuffer").toByteArray() + socket->readAll();
            bool malformed = false;
            const auto urls = decodeMessage(buffer, &malformed);
            if (malformed || buffer.size() > kMaxMessageBytes) {
                socket->abort();
                return;
            }
            if (!urls) {
                socket->setProperty("mivraBuffer", buffer);
                return;
            }
            socket->setProperty("mivraBuffer", QByteArray());
            socket->write(kAnswer);
            socket->disconnectFromServer();
            Q_EMIT urlsReceived(*urls);
        });
    }
}
