#include "ui/MainViewBackend.h"

#include "app/AppState.h"
#include "app/LifetimeMenu.h"
#include "app/MainThreadTask.h"
#include "app/RenameFlow.h"
#include "platform/ClipboardWriter.h"
#include "ui/RecentLinksModel.h"

#include <QCoreApplication>
#include <QPointer>

namespace {
constexpr qint64 kForeverCode = -1;

const QList<std::pair<BubbleSpot, const char *>> &bubbleSpotTitles()
{
    static const QList<std::pair<BubbleSpot, const char *>> titles{
        {BubbleSpot::bottomLeft, "Bottom left"},
        {BubbleSpot::bottomRight, "Bottom right"},
        {BubbleSpot::topLeft, "Top left"},
        {BubbleSpot::topRight, "Top right"},
        {BubbleSpot::asOnScreen, "Where it is on screen"},
    };
    return titles;
}

std::optional<Lifetime> lifetimeFromCode(qint64 code)
{
    if (code == kForeverCode)
        return Lifetime::forever();
    if (code <= 0)
        return std::nullopt;
    return Lifetime::ofSeconds(code);
}

QVariantList menuEntries(const QList<LifetimeMenuItem> &items)
{
    static const char *kinds[] = {"current", "preset", "separator", "custom"};
    QVariantList entries;
    for (const LifetimeMenuItem &item : items) {
        qint64 code = 0;
        if (item.lifetime)
            code = item.lifetime->isForever() ? kForeverCode : item.lifetime->seconds();
        entries.append(QVariantMap{{QStringLiteral("kind"), QString::fromLatin1(kinds[static_cast<int>(item.kind)])},
                                   {QStringLiteral("text"), item.text},
                                   {QStringLiteral("checked"), item.checked},
                                   {QStringLiteral("seconds"), code}});
    }
    return entries;
}

QCoro::Task<> askNewLifetime(AppState *state)
{
    const std::optional<Lifetime> chosen =
        co_await state->promptLifetime(QStringLiteral("How long should new videos last?"));
    if (chosen)
        co_await state->chooseNewLifetime(*chosen);
}

QCoro::Task<> askUntil(AppState *state, RecentLink link)
{
    const std::optional<Lifetime> chosen = co_await state->promptUntil(link);
    if (chosen)
        co_await state->setLifetime(link, *chosen);
}
} // namespace

MainViewBackend::MainViewBackend(AppState &state, ClipboardWriter &clipboard, QUrl serviceOrigin, NowFunction now,
                                 QObject *parent)
    : QObject(parent), m_state(state), m_clipboard(clipboard), m_serviceOrigin(std::move(serviceOrigin)), m_now(now),
      m_links(new RecentLinksModel(state, std::move(now), this)), m_rename(new RenameFlow(this))
{
    connect(&m_state, &AppState::phaseChanged, this, &MainViewBackend::phaseChanged);
    connect(&m_state, &AppState::elapsedChanged, this, &MainViewBackend::elapsedChanged);
    connect(&m_state, &AppState::cameraEnabledChanged, this, &MainViewBackend::cameraEnabledChanged);
    connect(&m_state, &AppState::micEnabledChanged, this, &MainViewBackend::micEnabledChanged);
    connect(&m_state, &AppState::showInDockChanged, this, &MainViewBackend::showInDockChanged);
    connect(&m_state, &AppState::bubbleInVideoChanged, this, &MainViewBackend::bubbleInVideoChanged);
    connect(&m_state, &AppState::newVideoLifetimeChanged, this, &MainViewBackend::newLifetimeChanged);
    connect(&m_state, &AppState::leftBehindChanged, this, &MainViewBackend::leftBehindChanged);
    connect(m_rename, &RenameFlow::renameRequested, this, [this](const QString &id, const QString &title) {
        const std::optional<RecentLink> link = m_links->link(id);
        AppState *state = &m_state;
        if (link)
            launchTask(state, [state, link = *link, title] { return state->rename(link, title); });
    });
}

MainViewBackend::~MainViewBackend() = default;

QString MainViewBackend::phase() const
{
    return m_state.phase().name();
}

QString MainViewBackend::elapsed() const
{
    return m_state.elapsed();
}

QString MainViewBackend::uploadText() const
{
    return m_state.phase().uploadText();
}

double MainViewBackend::uploadFraction() const
{
    const Phase phase = m_state.phase();
    if (!phase.is(Phase::Kind::uploading) || phase.totalBytes() < 1)
        return -1;
    return static_cast<double>(phase.sentBytes()) / static_cast<double>(phase.totalBytes());
}

QString MainViewBackend::stageHint() const
{
    if (m_state.cameraEnabled())
        return QStringLiteral("This window hides while you record. Press Done, just under your camera bubble, when "
                              "you're finished; the link copies itself and opens.");
    return QStringLiteral("This window hides while you record. Press Done at the top of your screen when you're "
                          "finished; the link copies itself and opens.");
}

bool MainViewBackend::cameraEnabled() const
{
    return m_state.cameraEnabled();
}

void MainViewBackend::setCameraEnabled(bool on)
{
    m_state.setCameraEnabled(on);
}

bool MainViewBackend::micEnabled() const
{
    return m_state.micEnabled();
}

void MainViewBackend::setMicEnabled(bool on)
{
    m_state.setMicEnabled(on);
}

bool MainViewBackend::showInDock() const
{
    return m_state.showInDock();
}

void MainViewBackend::setShowInDock(bool on)
{
    m_state.setShowInDock(on);
}

QString MainViewBackend::bubbleSpotTitle() const
{
    for (const auto &[spot, title] : bubbleSpotTitles()) {
        if (spot == m_state.bubbleInVideo())
            return QString::fromLatin1(title);
    }
    return QString();
}

QVariantList MainViewBackend::bubbleSpots() const
{
    QVariantList spots;
    for (const auto &[spot, title] : bubbleSpotTitles())
        spots.append(QVariantMap{{QStringLiteral("text"), QString::fromLatin1(title)},
                                 {QStringLiteral("checked"), spot == m_state.bubbleInVideo()}});
    return spots;
}

QString MainViewBackend::bubbleSpotNote() const
{
    if (m_state.capturesLeaveOurWindowsOut() || m_state.bubbleInVideo() == BubbleSpot::asOnScreen)
        return {};
    return QStringLiteral("This desktop cannot keep the bubble out of a recording, so it is recorded where it sits on "
                          "your screen.");
}

void MainViewBackend::chooseBubbleSpot(int index)
{
    if (index >= 0 && index < bubbleSpotTitles().size())
        m_state.setBubbleInVideo(bubbleSpotTitles().at(index).first);
}

QString MainViewBackend::newLifetimeLabel() const
{
    return m_state.effectiveNewLifetime().label();
}

QVariantList MainViewBackend::newLifetimeMenu() const
{
    return menuEntries(LifetimeMenu::choices(m_state.effectiveNewLifetime(), QStringLiteral("Custom\u2026")));
}

QVariantList MainViewBackend::leftBehind() const
{
    QVariantList rows;
    for (const LeftBehindRecording &recording : m_state.leftBehind()) {
        QString details = LeftBehindRecordings::lengthText(recording.durationMs);
        if (!details.isEmpty())
            details += QStringLiteral(" \u00b7 ");
        details += LeftBehindRecordings::sizeText(recording.sizeBytes);
        rows.append(QVariantMap{{QStringLiteral("path"), recording.path},
                                {QStringLiteral("name"), recording.name},
                                {QStringLiteral("details"), details}});
    }
    return rows;
}

QString MainViewBackend::version() const
{
    return QStringLiteral("Mivra Video ") + QCoreApplication::applicationVersion();
}

QString MainViewBackend::deleteTooltip() const
{
    return QStringLiteral("Delete this video from ") + m_serviceOrigin.host() + QStringLiteral(" now");
}

QString MainViewBackend::mediaBase() const
{
    QString origin = m_serviceOrigin.toString();
    if (origin.endsWith(QLatin1Char('/')))
        origin.chop(1);
    return origin + QStringLiteral("/r/");
}

void MainViewBackend::record()
{
    AppState *state = &m_state;
    launchTask(state, [state] { return state->startRecording(); });
}

void MainViewBackend::done()
{
    AppState *state = &m_state;
    launchTask(state, [state] { return state->stopRecording(); });
}

void MainViewBackend::discard()
{
    AppState *state = &m_state;
    launchTask(state, [state] { return state->discardRecording(); });
}

void MainViewBackend::pickNewLifetime(qint64 seconds)
{
    AppState *state = &m_state;
    if (const std::optional<Lifetime> lifetime = lifetimeFromCode(seconds))
        launchTask(state, [state, lifetime = *lifetime] { return state->chooseNewLifetime(lifetime); });
}

void MainViewBackend::customNewLifetime()
{
    AppState *state = &m_state;
    launchTask(state, [state] { return askNewLifetime(state); });
}

QString MainViewBackend::linkExpiryText(const QString &id) const
{
    const QModelIndex row =
        m_links->match(m_links->index(0), RecentLinksModel::IdRole, id, 1, Qt::MatchExactly).value(0);
    return row.isValid() ? row.data(RecentLinksModel::ExpiryTextRole).toString() : QString();
}

QVariantList MainViewBackend::linkMenu(const QString &id) const
{
    const std::optional<RecentLink> link = m_links->link(id);
    if (!link)
        return {};
    return menuEntries(
        LifetimeMenu::choices(LifetimeMenu::currentForLink(link->expiresAt, m_now()), QStringLiteral("Until\u2026")));
}

void MainViewBackend::pickLinkLifetime(const QString &id, qint64 seconds)
{
    const std::optional<RecentLink> link = m_links->link(id);
    const std::optional<Lifetime> lifetime = lifetimeFromCode(seconds);
    AppState *state = &m_state;
    if (link && lifetime)
        launchTask(state, [state, link = *link, lifetime = *lifetime] { return state->setLifetime(link, lifetime); });
}

void MainViewBackend::untilLink(const QString &id)
{
    AppState *state = &m_state;
    if (const std::optional<RecentLink> link = m_links->link(id))
        launchTask(state, [state, link = *link] { return askUntil(state, link); });
}

void MainViewBackend::copyLink(const QString &id)
{
    if (const std::optional<RecentLink> link = m_links->link(id))
        m_clipboard.setText(link->shareUrl);
}

void MainViewBackend::openLink(const QString &id)
{
    if (const std::optional<RecentLink> link = m_links->link(id))
        m_state.copyAndOpen(*link);
}

void MainViewBackend::deleteLink(const QString &id)
{
    AppState *state = &m_state;
    if (const std::optional<RecentLink> link = m_links->link(id))
        launchTask(state, [state, link = *link] { return state->deleteLink(link); });
}

void MainViewBackend::uploadLeftBehind(const QString &path)
{
    AppState *state = &m_state;
    launchTask(state, [state, path] { return state->uploadLeftBehind(path); });
}

void MainViewBackend::trashLeftBehind(const QString &path)
{
    m_state.trashLeftBehind(path);
}
