#include "platform/capture/PortalScreenCast.h"
#include "Await.h"
#include "FakeScreenCastPortal.h"
#include "MemoryPreferenceStore.h"
#include "WaylandTestServices.h"
#include "capture/Recorder.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

using namespace std::chrono_literals;
using Answer = FakeScreenCastPortal::Answer;

namespace {
const QString kCancelled = QStringLiteral("Screen sharing was cancelled, so the recording did not start.");
const QString kRefused = QStringLiteral("The desktop refused to share the screen, so the recording did not start.");
const QString kNoScreen = QStringLiteral("The desktop shared no screen, so the recording did not start.");
const QString kNoMonitors = QStringLiteral("The desktop's screen sharing portal cannot share a whole screen.");

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

    std::unique_ptr<PortalScreenCast> makePortal(std::chrono::milliseconds answerTimeout = 5s)
    {
        PortalScreenCast::Options options;
        options.bus = clientBus;
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

TEST_F(PortalScreenCastTest, AsksForOneMonitorWithTheCursorDrawnInUntilRevoked)
{
    auto portal = makePortal();
    ASSERT_EQ(failureOf(*portal), QString());
    EXPECT_EQ(fake.methods(), (QStringList{QStringLiteral("CreateSession"), QStringLiteral("SelectSources"),
                                           QStringLiteral("Start"), QStringLiteral("OpenPipeWireRemote")}));
    const QVariantMap select = fake.callOf(QStringLiteral("SelectSources")).options;
    EXPECT_EQ(select.value(QStringLiteral("types")).toUInt(), 1u);
    EXPECT_EQ(select.value(QStringLiteral("multiple")).toBool(), false);
    EXPECT_EQ(select.value(QStringLiteral("cursor_mode")).toUInt(), 2u);
    EXPECT_EQ(select.value(QStringLiteral("persist_mode")).toUInt(), 2u);
    EXPECT_FALSE(select.contains(QStringLiteral("restore_token")));

    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->nodeId, 42u);
    EXPECT_EQ(opened->sizePoints, QSize(1280, 720));
    EXPECT_TRUE(opened->sessionHandle.startsWith(QStringLiteral("/org/freedesktop/portal/desktop/session/")));
    // The remote is the descriptor the portal handed out.
    ASSERT_TRUE(opened->remote.valid());
    ASSERT_EQ(::write(farEnd.get(), "m", 1), 1);
    char byte = 0;
    ASSERT_EQ(::read(opened->remote.get(), &byte, 1), 1);
    EXPECT_EQ(byte, 'm');

    EXPECT_EQ(storedToken(), QStringLiteral("token-1"));
    EXPECT_TRUE(PortalScreenCast::remembersChoice(*preferences));
    EXPECT_TRUE(fake.closedSessions.isEmpty());
}

TEST_F(PortalScreenCastTest, TheStoredTokenIsSentAndTheNextOneKept)
{
    preferences->setValue(PortalScreenCast::restoreTokenKey, QStringLiteral("token-1"));
    fake.restoreTokenToGive = QStringLiteral("token-2");
    auto portal = makePortal();
    ASSERT_EQ(failureOf(*portal), QString());
    EXPECT_EQ(fake.callOf(QStringLiteral("SelectSources")).options.value(QStringLiteral("restore_token")).toString(),
              QStringLiteral("token-1"));
    EXPECT_EQ(storedToken(), QStringLiteral("token-2"));

    // The next recording uses the new one.
    fake.calls.clear();
    fake.restoreTokenToGive = QStringLiteral("token-3");
    ASSERT_EQ(failureOf(*portal), QString());
    EXPECT_EQ(fake.callOf(QStringLiteral("SelectSources")).options.value(QStringLiteral("restore_token")).toString(),
              QStringLiteral("token-2"));
    EXPECT_EQ(storedToken(), QStringLiteral("token-3"));
}

TEST_F(PortalScreenCastTest, AnUnansweredDialogIsWithdrawnAfterTheTimeOut)
{
    fake.answers.insert(QStringLiteral("Start"), Answer::never);
    auto portal = makePortal(300ms);
    EXPECT_EQ(failureOf(*portal),
              QStringLiteral("The desktop did not answer the request to share the screen in time."));
    ASSERT_TRUE(waitUntil([&] { return !fake.closedRequests.isEmpty() && !fake.closedSessions.isEmpty(); }, 2000));
    EXPECT_EQ(fake.closedRequests, QStringList{fake.callOf(QStringLiteral("Start")).requestPath});
}

TEST_F(PortalScreenCastTest, AnAnswerThatOvertakesTheMethodReplyIsNotMissed)
{
    fake.answerBeforeReply = true;
    auto portal = makePortal(2s);
    EXPECT_EQ(failureOf(*portal), QString());
    EXPECT_TRUE(opened.has_value());
}

TEST_F(PortalScreenCastTest, OlderPortalsAreNotAskedForWhatTheyLack)
{
    preferences->setValue(PortalScreenCast::restoreTokenKey, QStringLiteral("token-1"));
    fake.version = 3;
    fake.cursorModes = 1; // hidden only
    fake.restoreTokenToGive.clear();
    auto portal = makePortal();
    ASSERT_EQ(failureOf(*portal), QString());
    const QVariantMap select = fake.callOf(QStringLiteral("SelectSources")).options;
    EXPECT_FALSE(select.contains(QStringLiteral("cursor_mode")));
    EXPECT_FALSE(select.contains(QStringLiteral("persist_mode")));
    EXPECT_FALSE(select.contains(QStringLiteral("restore_token")));
    // Tokens are good once; without a new one nothing is kept.
    EXPECT_FALSE(storedToken().has_value());
    EXPECT_FALSE(PortalScreenCast::remembersChoice(*preferences));
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
    } cases[] = {
        {"CreateSession", Answer::refused, true, 1, kRefused, {"CreateSession"}, 0},
        {"SelectSources", Answer::refused, true, 1, kRefused, {"CreateSession", "SelectSources"}, 1},
        {"Start", Answer::cancelled, true, 1, kCancelled, {"CreateSession", "SelectSources", "Start"}, 1},
        {"", Answer::refused, false, 1, kNoScreen, {"CreateSession", "SelectSources", "Start"}, 1},
        {"", Answer::refused, true, 2 /* windows only */, kNoMonitors, {}, 0},
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
        auto portal = makePortal();
        EXPECT_EQ(failureOf(*portal), c.failure);
        EXPECT_EQ(fake.methods(), c.methods);
        EXPECT_EQ(storedToken(), QStringLiteral("token-1"));
        if (c.closedSessions)
            EXPECT_TRUE(waitUntil([&] { return fake.closedSessions.size() == c.closedSessions; }, 2000));
        else
            EXPECT_TRUE(fake.closedSessions.isEmpty());
    }
}

TEST_F(PortalScreenCastTest, NoPortalOnTheBusIsSaidPlainly)
{
    fake.unregister();
    PortalScreenCast::Options options;
    options.bus = clientBus;
    options.service = QStringLiteral("org.freedesktop.portal.Nobody");
    auto portal = std::make_unique<PortalScreenCast>(preferences, options);
    EXPECT_EQ(failureOf(*portal), QStringLiteral("The desktop offers no screen sharing portal (xdg-desktop-portal), "
                                                 "so the screen cannot be recorded."));
}

} // namespace
