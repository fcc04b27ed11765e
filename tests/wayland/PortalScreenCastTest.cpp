#include "platform/capture/PortalScreenCast.h"
#include "Await.h"
#include "FakeScreenCastPortal.h"
#include "MemoryPreferenceStore.h"
#include "WaylandTestServices.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

using namespace std::chrono_literals;
using Answer = FakeScreenCastPortal::Answer;

namespace {
const QString kCancelled = QStringLiteral("Screen sharing was cancelled, so the recording did not start.");
const QString kRefused = QStringLiteral("The desktop refused to share the screen, so the recording did not start.");
const QString kNoScreen = QStringLiteral("The desktop shared no screen, so the recording did not start.");
const QString kNoMonitors = QStringLiteral("The desktop's screen sharing portal cannot share a whole screen.");
const QString kNoBackend =
    QStringLiteral("No screen-sharing backend for this desktop is installed, so the screen cannot be recorded. "
                   "Install the one for your desktop: xdg-desktop-portal-gnome, xdg-desktop-portal-kde or "
                   "xdg-desktop-portal-wlr.");
const QString kNoPortal = QStringLiteral(
    "The desktop offers no screen sharing portal (xdg-desktop-portal), so the screen cannot be recorded.");

// SelectSources' options as "name=value", without the request's own token.
QStringList selectOptions(const FakeScreenCastPortal &fake)
{
    QStringList named;
    const QVariantMap options = fake.callOf(QStringLiteral("SelectSources")).options;
    for (auto it = options.cbegin(); it != options.cend(); ++it) {
        if (it.key() != QLatin1String("handle_token"))
            named << it.key() + QLatin1Char('=') + it.value().toString();
    }
    return named;
}

class PortalScreenCastTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString whyNot;
        if (!bus.start(folder.path(), &whyNot))
            GTEST_SKIP() << "No private session bus: " << whyNot.toStdString();
        portalBus = bus.connect();
        ASSERT_TRUE(fake.registerOn(portalBus));
        clientBus = bus.connect();
        ASSERT_TRUE(clientBus.isConnected());
        // The far end of the remote stays here, so the test can talk through it.
        fake.makeRemote = [this] {
            int pair[2];
            if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
                return -1;
            farEnd.reset(pair[1]);
            return pair[0];
        };
    }
    void TearDown() override { fake.unregister(); }

    std::unique_ptr<PortalScreenCast>
    makePortal(std::chrono::milliseconds answerTimeout = 5s,
               const QString &service = QStringLiteral("org.freedesktop.portal.Desktop"))
    {
        PortalScreenCast::Options options;
        options.bus = clientBus;
        options.service = service;
        options.answerTimeout = answerTimeout;
        return std::make_unique<PortalScreenCast>(preferences, options);
    }
    // The sentence open() fails with; empty when it succeeds.
    QString failureOf(PortalScreenCast &portal)
    {
        return failureText([&] { opened = run(portal.open()); });
    }
    std::optional<QString> storedToken() const { return preferences->textValue(PortalScreenCast::restoreTokenKey); }

    QTemporaryDir folder{QDir::tempPath() + QStringLiteral("/mivra-bus-XXXXXX")};
    PrivateSessionBus bus;
    QDBusConnection portalBus{QString()};
    QDBusConnection clientBus{QString()};
    FakeScreenCastPortal fake;
    UniqueFd farEnd;
    std::shared_ptr<MemoryPreferenceStore> preferences = std::make_shared<MemoryPreferenceStore>();
    std::optional<PortalStream> opened;
};

// Rounds follow each other as recordings do: each sends the token the one
// before was given.
TEST_F(PortalScreenCastTest, AsksForOneMonitorWithTheCursorDrawnInAndPassesTheTokenOn)
{
    const struct {
        uint version, cursorModes;
        QString tokenGiven;
        QStringList select;
        std::optional<QString> kept;
    } rounds[] = {
        {4, 1 | 2 | 4, "token-1", {"cursor_mode=2", "multiple=false", "persist_mode=2", "types=1"}, "token-1"},
        {4,
         1 | 2 | 4,
         "token-2",
         {"cursor_mode=2", "multiple=false", "persist_mode=2", "restore_token=token-1", "types=1"},
         "token-2"},
        // Older portals are not asked for what they lack; a used token is not kept.
        {3, 1 /* hidden only */, "", {"multiple=false", "types=1"}, std::nullopt},
    };
    auto portal = makePortal();
    for (const auto &c : rounds) {
        SCOPED_TRACE(c.tokenGiven.toStdString());
        fake.version = c.version;
        fake.cursorModes = c.cursorModes;
        fake.restoreTokenToGive = c.tokenGiven;
        fake.calls.clear();
        ASSERT_EQ(failureOf(*portal), QString());
        EXPECT_EQ(fake.methods(), (QStringList{"CreateSession", "SelectSources", "Start", "OpenPipeWireRemote"}));
        EXPECT_EQ(selectOptions(fake), c.select);
        EXPECT_EQ(storedToken(), c.kept);
        EXPECT_EQ(opened->nodeId, 42u);
        EXPECT_EQ(opened->sizePoints, QSize(1280, 720));
        EXPECT_TRUE(opened->sessionHandle.startsWith(QStringLiteral("/org/freedesktop/portal/desktop/session/")));
        // The remote is the descriptor the portal handed out.
        ASSERT_EQ(::write(farEnd.get(), "m", 1), 1);
        char byte = 0;
        ASSERT_EQ(::read(opened->remote.get(), &byte, 1), 1);
        EXPECT_EQ(byte, 'm');
    }
    EXPECT_TRUE(fake.closedSessions.isEmpty());
}

TEST_F(PortalScreenCastTest, AnUnansweredDialogIsWithdrawnAfterTheTimeOut)
{
    fake.answers.insert(QStringLiteral("Start"), Answer::never);
    // Long enough for the steps before to be answered on a loaded machine.
    auto portal = makePortal(1s);
    EXPECT_EQ(failureOf(*portal),
              QStringLiteral("The desktop did not answer the request to share the screen in time."));
    ASSERT_TRUE(waitUntil([&] { return !fake.closedRequests.isEmpty() && !fake.closedSessions.isEmpty(); }));
    EXPECT_EQ(fake.closedRequests, QStringList{fake.callOf(QStringLiteral("Start")).requestPath});
}

TEST_F(PortalScreenCastTest, AnAnswerThatOvertakesTheMethodReplyIsNotMissed)
{
    fake.answerBeforeReply = true;
    auto portal = makePortal(2s);
    EXPECT_EQ(failureOf(*portal), QString());
}

// Each refusal fails the start with its own sentence, calls nothing after
// the step that refused, keeps the stored token and ends any session begun.
TEST_F(PortalScreenCastTest, RefusalsFailTheStartAndEndTheSession)
{
    const struct {
        const char *step; // the step that refuses; empty: a portal setting below
        Answer answer;
        bool shareStream;
        uint sourceTypes;
        QString failure;
        QStringList methods;
        int closedSessions;
        const char *service = "org.freedesktop.portal.Desktop";
    } cases[] = {
        {"CreateSession", Answer::refused, true, 1, kRefused, {"CreateSession"}, 0},
        {"SelectSources", Answer::refused, true, 1, kRefused, {"CreateSession", "SelectSources"}, 1},
        {"Start", Answer::cancelled, true, 1, kCancelled, {"CreateSession", "SelectSources", "Start"}, 1},
        {"", Answer::refused, false, 1, kNoScreen, {"CreateSession", "SelectSources", "Start"}, 1},
        {"", Answer::refused, true, 2 /* windows only */, kNoMonitors, {}, 0},
        {"", Answer::refused, true, 0, kNoBackend, {}, 0},
        {"", Answer::refused, true, 1, kNoPortal, {}, 0, "org.freedesktop.portal.Nobody"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.failure.toStdString() + " at " + c.step);
        preferences->setValue(PortalScreenCast::restoreTokenKey, QStringLiteral("token-1"));
        fake.calls.clear();
        fake.closedSessions.clear();
        fake.answers.clear();
        if (*c.step)
            fake.answers.insert(QString::fromLatin1(c.step), c.answer);
        fake.shareStream = c.shareStream;
        fake.sourceTypes = c.sourceTypes;
        auto portal = makePortal(5s, QString::fromLatin1(c.service));
        EXPECT_EQ(failureOf(*portal), c.failure);
        EXPECT_EQ(fake.methods(), c.methods);
        EXPECT_EQ(storedToken(), QStringLiteral("token-1"));
        if (c.closedSessions)
            EXPECT_TRUE(waitUntil([&] { return fake.closedSessions.size() == c.closedSessions; }));
        else
            EXPECT_TRUE(fake.closedSessions.isEmpty());
    }
}

} // namespace
