#include "setup/Updates.h"

#include "base/Diag.h"
#include "platform/AppLauncher.h"
#include "setup/BundleSwap.h"
#include "setup/Signature.h"
#include "setup/UpdateError.h"

#include <QCoroNetworkReply>
#include <QFile>
#include <QMetaEnum>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QProcessEnvironment>
#include <QScopeGuard>
#include <QTemporaryDir>

namespace {
constexpr auto kFeedLimit = 4 * 1024 * 1024;

QString vetoText()
{
    return QStringLiteral("Mivra Video is recording or uploading; check for updates once it is done.");
}

struct ReplyDeleter {
    void operator()(QNetworkReply *reply) const { reply->deleteLater(); }
};
using Reply = std::unique_ptr<QNetworkReply, ReplyDeleter>;

QNetworkRequest requestFor(const QUrl &url)
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(60'000);
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArray("Mivra Video"));
    return request;
}
} // namespace

Updates::Config Updates::configFromEnvironment()
{
    const auto environment = QProcessEnvironment::systemEnvironment();
    Config config;
    config.bundle = BundleInfo::running();
    config.installedVersion = config.bundle ? config.bundle->version : QStringLiteral(MIVRA_VERSION);
    const QString feed = environment.value(QStringLiteral("MIVRA_FEED_URL"));
    config.feedUrl = QUrl(!feed.isEmpty() ? feed : config.bundle ? config.bundle->feedUrl : QString());
    const QString key = environment.value(QStringLiteral("MIVRA_UPDATE_PUBLIC_KEY"));
    config.publicKey = (!key.isEmpty() ? key : config.bundle ? config.bundle->publicKey : QString()).toLatin1();
    return config;
}

Updates::Updates(Config config, QNetworkAccessManager *network, QObject *parent)
    : QObject(parent), m_config(std::move(config)), m_network(network)
{
    connect(&m_schedule, &QTimer::timeout, this, [this] {
        if (!busy()) [[maybe_unused]]
            auto task = check();
    });
}

bool Updates::busy() const
{
    return m_state == State::checking || m_state == State::downloading || m_state == State::installing;
}

QString Updates::stateName() const
{
    return QString::fromLatin1(QMetaEnum::fromType<State>().valueToKey(int(m_state)));
}

QString Updates::installedVersion() const
{
    return m_config.bundle ? m_config.bundle->version : m_config.installedVersion;
}

void Updates::setState(State state, QString message)
{
    m_state = state;
    m_message = std::move(message);
    if (state == State::failed)
        Diag::log(QStringLiteral("update failed: ") + m_message);
    Q_EMIT changed();
}

QCoro::Task<bool> Updates::check()
{
    if (busy() || !m_config.mayCheck())
        co_return false;
    if (!m_config.bundle) {
        setState(State::packaged,
                 QStringLiteral("Mivra Video was installed by your package manager, so updates come from there."));
        co_return true;
    }
    if (!m_config.feedUrl.isValid() || m_config.feedUrl.isEmpty()) {
        setState(State::failed, QStringLiteral("This copy of Mivra Video has no update feed address."));
        co_return true;
    }
    setState(State::checking, QStringLiteral("Checking for updates…"));
    QPointer<Updates> self(this);
    Reply reply(m_network->get(requestFor(m_config.feedUrl)));
    QNetworkReply *raw = reply.get();
    connect(raw, &QNetworkReply::downloadProgress, raw, [raw](qint64 received, qint64) {
        if (received > kFeedLimit)
            raw->abort();
    });
    co_await raw;
    if (!self)
        co_return false;
    try {
        if (raw->error() != QNetworkReply::NoError)
            throw UpdateError(QStringLiteral("The update feed could not be read: %1.").arg(raw->errorString()));
        const auto newest = Appcast::newest(Appcast::parse(raw->readAll(), raw->url()));
        if (newest && compareVersions(newest->version, installedVersion()) > 0) {
            m_available = newest;
            setState(State::available, QStringLiteral("Mivra Video %1 is available").arg(newest->displayVersion()));
        } else {
            m_available.reset();
            setState(State::upToDate, QStringLiteral("Mivra Video is up to date (%1)").arg(installedVersion()));
        }
    } catch (const UpdateError &error) {
        m_available.reset();
        setState(State::failed, error.description());
    }
    co_return true;
}

QCoro::Task<QString> Updates::download(const AppcastItem &item, const QString &folder)
{
    QFile file(folder + QStringLiteral("/update.tar.xz"));
    if (!file.open(QIODevice::WriteOnly))
        throw UpdateError(QStringLiteral("The update could not be saved: %1.").arg(file.errorString()));
    Reply reply(m_network->get(requestFor(item.url)));
    QNetworkReply *raw = reply.get();
    // Some replies (file://) still post readyRead after finishing: nothing
    // may reach this frame once it is gone.
    const auto detach = qScopeGuard([raw] { raw->disconnect(); });
    bool tooLong = false;
    bool writeFailed = false;
    connect(raw, &QNetworkReply::readyRead, raw, [&] {
        const QByteArray chunk = raw->readAll();
        if (file.size() + chunk.size() > item.length) {
            tooLong = true;
            raw->abort();
        } else if (file.write(chunk) != chunk.size()) {
            writeFailed = true;
            raw->abort();
        }
    });
    QPointer<Updates> self(this);
    connect(raw, &QNetworkReply::downloadProgress, this, [this, &item](qint64 received, qint64) {
        m_progress = item.length > 0 ? double(received) / double(item.length) : 0;
        Q_EMIT changed();
    });
    co_await raw;
    if (tooLong)
        throw UpdateError(
            QStringLiteral("The download is larger than the %1 bytes the feed announces; it was not installed.")
                .arg(item.length));
    if (writeFailed)
        throw UpdateError(QStringLiteral("The update could not be saved: %1.").arg(file.errorString()));
    if (raw->error() != QNetworkReply::NoError)
        throw UpdateError(QStringLiteral("The download did not complete: %1.").arg(raw->errorString()));
    const QByteArray rest = raw->readAll();
    if (file.size() + rest.size() > item.length || file.write(rest) != rest.size())
        throw UpdateError(
            QStringLiteral("The download is larger than the %1 bytes the feed announces; it was not installed.")
                .arg(item.length));
    if (file.size() != item.length)
        throw UpdateError(QStringLiteral("The download has %1 bytes, but the feed announces %2; it was not installed.")
                              .arg(file.size())
                              .arg(item.length));
    file.close();
    co_return file.fileName();
}

QCoro::Task<> Updates::install()
{
    if (busy() || !m_available || !m_config.bundle)
        co_return;
    if (!m_config.mayCheck()) {
        setState(State::failed, vetoText());
        co_return;
    }
    const AppcastItem item = *m_available;
    const BundleInfo bundle = *m_config.bundle;
    QPointer<Updates> self(this);
    try {
        if (m_config.publicKey.isEmpty())
            throw UpdateError(QStringLiteral(
                "This copy of Mivra Video has no key to verify updates with, so it cannot install them."));
        if (item.edSignature.isEmpty() || item.length <= 0)
            throw UpdateError(
                QStringLiteral("The feed does not sign this update or give its length; it was not installed."));
        m_progress = 0;
        setState(State::downloading, QStringLiteral("Downloading Mivra Video %1…").arg(item.displayVersion()));
        QTemporaryDir work;
        if (!work.isValid())
            throw UpdateError(QStringLiteral("The update could not be saved: no temporary folder."));
        const QString archive = co_await download(item, work.path());
        if (!self)
            co_return;
        QFile file(archive);
        if (!file.open(QIODevice::ReadOnly) ||
            !Signature::verifyEd25519(m_config.publicKey, item.edSignature, file.readAll()))
            throw UpdateError(QStringLiteral(
                "The download's signature does not match Mivra Video's update key; it was not installed."));
        file.close();
        // A recording may have started during the download: a relaunch now
        // would end it.
        if (!m_config.mayCheck())
            throw UpdateError(vetoText());
        setState(State::installing, QStringLiteral("Installing Mivra Video %1…").arg(item.displayVersion()));
        co_await BundleSwap::replace(archive, bundle.path);
        if (!self)
            co_return;
    } catch (const UpdateError &error) {
        if (self)
            setState(State::failed, error.description());
        co_return;
    }
    if (!m_config.launcher) {
        setState(State::installed, QStringLiteral("Mivra Video %1 is installed").arg(item.displayVersion()));
        co_return;
    }
    QString why;
    if (m_config.launcher->launch(bundle.launcher(), {}, QProcessEnvironment::systemEnvironment(), &why)) {
        Diag::log(QStringLiteral("update: relaunching ") + bundle.launcher());
        m_config.quit();
        co_return;
    }
    setState(State::failed, QStringLiteral("Mivra Video %1 is installed but could not be started (%2). Open it again.")
                                .arg(item.displayVersion(), why));
}

void Updates::checkForUpdates()
{
    if (busy() || !m_config.mayCheck())
        return;
    Q_EMIT windowRequested();
    [[maybe_unused]] auto task = check();
}

void Updates::downloadAndInstall()
{
    [[maybe_unused]] auto task = install();
}

void Updates::startSchedule(std::chrono::milliseconds interval)
{
    // Package installs and builds without a feed have nothing to look at.
    if (!m_config.bundle || m_config.feedUrl.isEmpty())
        return;
    m_schedule.start(interval);
    [[maybe_unused]] auto task = check();
}
