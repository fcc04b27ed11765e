#include "platform/SingleInstance.h"

#include <QCoroIODevice>
#include <QCoroLocalSocket>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace {
const QByteArray kGreeting = QByteArrayLiteral("MIVRA1\n");
const QByteArray kReplyGreeting = QByteArrayLiteral("MIVRA2\n");
const QByteArray kAnswer = QByteArrayLiteral("ok\n");
const QByteArray kUnsupported = QByteArrayLiteral("unsupported\n");
const QByteArray kAccepted = QByteArrayLiteral("{\"accepted\":true}\n");
const char *const kBuffer = "mivraBuffer";
constexpr int kClientTimeoutMs = 5000;

// "MIVRA" and a version we do not know, such as a later one.
bool isOtherVersion(const QByteArray &buffer)
{
    const qsizetype end = buffer.indexOf('\n');
    if (end < 0 || !buffer.startsWith("MIVRA"))
        return false;
    bool number = false;
    buffer.mid(5, end - 5).toInt(&number);
    return number;
}

QByteArray jsonLine(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

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
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { read(socket); });
    }
}

void InstanceServer::read(QLocalSocket *socket)
{
    QByteArray buffer = socket->property(kBuffer).toByteArray() + socket->readAll();
    if (auto *request = socket->findChild<InstanceRequest *>(QString(), Qt::FindDirectChildrenOnly)) {
        // Later lines of a conversation.
        qsizetype end;
        while ((end = buffer.indexOf('\n')) >= 0) {
            const QJsonDocument line = QJsonDocument::fromJson(buffer.left(end));
            buffer.remove(0, end + 1);
            if (line.isObject())
                Q_EMIT request->lineReceived(line.object());
        }
        if (buffer.size() > kMaxMessageBytes)
            socket->abort();
        else
            socket->setProperty(kBuffer, buffer);
        return;
    }
    if (buffer.startsWith(kReplyGreeting)) {
        const qsizetype end = buffer.indexOf('\n', kReplyGreeting.size());
        if (end < 0) {
            if (buffer.size() > kMaxMessageBytes) {
                socket->write(jsonLine({{QStringLiteral("exit"), 2},
                                        {QStringLiteral("error"), QStringLiteral("The request is too long.")}}));
                socket->disconnectFromServer();
                return;
            }
            socket->setProperty(kBuffer, buffer);
            return;
        }
        const QJsonDocument body =
            QJsonDocument::fromJson(buffer.mid(kReplyGreeting.size(), end - kReplyGreeting.size()));
        socket->setProperty(kBuffer, buffer.mid(end + 1));
        if (!body.isObject() || !body.object().value(QStringLiteral("command")).isString()) {
            socket->write(jsonLine({{QStringLiteral("exit"), 2},
                                    {QStringLiteral("error"), QStringLiteral("The request could not be read.")}}));
            socket->disconnectFromServer();
            return;
        }
        // A conversation lasts as long as its work, such as a recording.
        if (auto *deadline = socket->findChild<QTimer *>())
            deadline->stop();
        auto *request = new InstanceRequest(socket, body.object());
        // Answered at once, so a launch can tell a live app from a hung one.
        socket->write(kAccepted);
        Q_EMIT requestReceived(request);
        if (!socket->property(kBuffer).toByteArray().isEmpty())
            read(socket);
        return;
    }
    if (!buffer.startsWith(kGreeting) && isOtherVersion(buffer)) {
        socket->write(kUnsupported);
        socket->disconnectFromServer();
        return;
    }
    bool malformed = false;
    const auto urls = decodeMessage(buffer, &malformed);
    if (malformed || buffer.size() > kMaxMessageBytes) {
        socket->abort();
        return;
    }
    if (!urls) {
        socket->setProperty(kBuffer, buffer);
        return;
    }
    socket->setProperty(kBuffer, QByteArray());
    socket->write(kAnswer);
    socket->disconnectFromServer();
    Q_EMIT urlsReceived(*urls);
}

InstanceRequest::InstanceRequest(QLocalSocket *socket, QJsonObject body)
    : QObject(socket), m_socket(socket), m_body(std::move(body))
{
    connect(socket, &QLocalSocket::disconnected, this, [this] {
        if (!m_finished)
            Q_EMIT abandoned();
    });
}

void InstanceRequest::reply(const QJsonObject &line)
{
    if (!m_finished)
        m_socket->write(jsonLine(line));
}

void InstanceRequest::finish(int status, const QString &out, const QString &error)
{
    if (m_finished)
        return;
    QJsonObject line{{QStringLiteral("exit"), status}};
    if (!out.isEmpty())
        line.insert(QStringLiteral("out"), out);
    if (!error.isEmpty())
        line.insert(QStringLiteral("error"), error);
    m_socket->write(jsonLine(line));
    m_finished = true;
    m_socket->disconnectFromServer();
}

InstanceClient::InstanceClient(QObject *parent) : QObject(parent)
{
}

InstanceClient::~InstanceClient() = default;

bool InstanceClient::start(const QString &socketPath, const QJsonObject &request, int timeoutMs)
{
    if (!SingleInstance::someoneListens(socketPath))
        return false;
    m_socket = new QLocalSocket(this);
    m_socket->connectToServer(socketPath);
    if (!m_socket->waitForConnected(timeoutMs))
        return false;
    connect(m_socket, &QLocalSocket::readyRead, this, &InstanceClient::readLines);
    connect(m_socket, &QLocalSocket::disconnected, this, [this] {
        readLines();
        if (m_done)
            return;
        m_done = true;
        // Older apps drop a greeting they do not know without a word.
        if (!m_heard)
            Q_EMIT unsupported();
        Q_EMIT closed();
    });
    // An app that takes the connection but never answers (hung, or too old to
    // know this greeting and still reading it) is treated like an older app.
    auto *silence = new QTimer(this);
    silence->setSingleShot(true);
    connect(silence, &QTimer::timeout, this, [this] {
        if (m_heard || m_done)
            return;
        m_done = true;
        m_socket->abort();
        Q_EMIT unsupported();
        Q_EMIT closed();
    });
    silence->start(timeoutMs);
    m_socket->write(kReplyGreeting + jsonLine(request));
    return true;
}

void InstanceClient::send(const QJsonObject &line)
{
    if (m_socket && m_socket->state() == QLocalSocket::ConnectedState)
        m_socket->write(jsonLine(line));
}

void InstanceClient::readLines()
{
    m_buffer += m_socket->readAll();
    qsizetype end;
    while (!m_done && (end = m_buffer.indexOf('\n')) >= 0) {
        const QByteArray line = m_buffer.left(end + 1);
        m_buffer.remove(0, end + 1);
        if (!m_heard && line == kUnsupported) {
            m_done = true;
            Q_EMIT unsupported();
            Q_EMIT closed();
            return;
        }
        m_heard = true;
        if (line == kAccepted)
            continue;
        const QJsonDocument document = QJsonDocument::fromJson(line);
        if (document.isObject())
            Q_EMIT message(document.object());
    }
}
