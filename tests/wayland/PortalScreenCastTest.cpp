#include "platform/capture/PortalScreenCast.h"
#include "FakeScreenCastPortal.h"
#include "MemoryPreferenceStore.h"
#include "WaylandTestServices.h"
#include "platform/LinuxSetupPermissions.h"
#include "platform/capture/PortalCamera.h"
#include "platform/capture/WaylandCapturePlatform.h"

#include <gtest/gtest.h>

#include <future>

using namespace std::chrono_literals;
using Answer = FakeScreenCastPortal::Answer;
using Authorization = SetupPermissions::Authorization;

namespace {
// SelectSources' options as "name=value ...", without the request's own token.
QString selectOptions(const FakeScreenCastPortal &fake)
{
    QVariantMap options = fake.last.value(QStringLiteral("SelectSources")).options;
    options.remove(QStringLiteral("handle_token"));
    QStringList named;
    for (auto it = options.cbegin(); it != options.cend(); ++it)
        named << it.key() + QLatin1Char('=') + it.value().toString();
    return named.join(' ');
}

// The status call blocks, so it runs beside the loop that lets the fake answer.
Authorization statusOf(SetupPermissions &permissions)
{
    std::future<Authorization> status = std::async(std::launch::async, [&] { return permissions.cameraStatus(); });
    waitUntil([&] { return status.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 60000);
    return status.get();
}

class PortalScreenCastTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!bus.start())
            GTEST_SKIP() << "No private session bus (dbus-daemon)";
        ASSERT_TRUE(fake.registerOn(bus.connect()));
    }

    // Long enough for each step to be answered on a loaded machine.
    auto makePortal(const QString &service = QStringLiteral("org.freedesktop.portal.Desktop"))
    {
        return std::make_unique<PortalScreenCast>(preferences, PortalScreenCast::Options{bus.connect(), service, 2s});
    }
    // The sentence open() fails with; empty when it succeeds.
    QString failureOf(PortalScreenCast &portal)
    {
        return failureText([&] { opened = run(portal.open()); });
    }
    // The setup card's permissions on a desktop served by the fake.
    std::unique_ptr<LinuxSetupPermissions> setupPermissions()
    {
        auto platform = std::make_shared<WaylandCapturePlatform>(std::shared_ptr<PortalScreenCast>(makePortal()));
        return std::make_unique<LinuxSetupPermissions>(
            [this] { return PortalScreenCast::remembersChoice(*preferences); },
            [platform] { return platform->askOnce(); });
    }
    std::optional<QString> storedToken() const { return preferences->textValue(PortalScreenCast::restoreTokenKey); }

    PrivateSessionBus bus;
    FakeScreenCastPortal fake;
    std::shared_ptr<MemoryPreferenceStore> preferences = std::make_shared<MemoryPreferenceStore>();
    std::optional<PortalStream> opened;
};

// Rounds follow each other as recordings do: each sends the token the one
// before was given. The second one's answer overtakes the method's reply.
TEST_F(PortalScreenCastTest, AsksForOneMonitorWithTheCursorDrawnInAndPassesTheTokenOn)
{
    const struct {
        uint version, cursorModes;
        QString tokenGiven;
        bool answerBeforeReply;
        QString select;
        std::optional<QString> kept;
    } rounds[] = {
        {4, 1 | 2 | 4, "token-1", false, "cursor_mode=2 multiple=false persist_mode=2 types=1", "token-1"},
        {4, 1 | 2 | 4, "token-2", true, "cursor_mode=2 multiple=false persist_mode=2 restore_token=token-1 types=1",
         "token-2"},
        // Older portals are not asked for what they lack; a used token is not kept.
        {3, 1 /* hidden only */, "", false, "multiple=false types=1", std::nullopt},
    };
    auto portal = makePortal();
    for (const auto &c : rounds) {
        SCOPED_TRACE(c.tokenGiven.toStdString());
        fake.version = c.version;
        fake.cursorModes = c.cursorModes;
        fake.restoreTokenToGive = c.tokenGiven;
        fake.answerBeforeReply = c.answerBeforeReply;
        fake.methods.clear();
        ASSERT_EQ(failureOf(*portal), QString());
        EXPECT_EQ(fake.methods, (QStringList{"CreateSession", "SelectSources", "Start", "OpenPipeWireRemote"}));
        EXPECT_EQ(std::pair(selectOptions(fake), storedToken()), std::pair(c.select, c.kept));
        EXPECT_EQ(std::tuple(opened->nodeId, opened->sizePoints, opened->sessionHandle.section('/', 0, -3)),
                  std::tuple(42u, QSize(1280, 720), QStringLiteral("/org/freedesktop/portal/desktop/session")));
        char head[4] = {}; // stays zeros if nothing can be read
        (void)::read(opened->remote.get(), head, 4);
        EXPECT_EQ(QByteArray(head, 4), QByteArray("\177ELF")) << "the remote handed out is the portal's";
    }
    EXPECT_TRUE(fake.closedSessions.isEmpty());
}

// Each refusal fails the start with its own sentence, calls nothing after
// the step that refused, keeps the stored token and ends any session begun.
// An unanswered dialog is withdrawn after the time-out.
TEST_F(PortalScreenCastTest, RefusalsFailTheStartAndEndTheSession)
{
    const struct {
        const char *step; // the step that refuses; empty: a portal setting below
        Answer answer;
        bool shareStream;
        uint sourceTypes;
        const char *failure; // part of the sentence
        QStringList methods;
        int closedSessions;
        const char *service = "org.freedesktop.portal.Desktop";
    } cases[] = {
        {"CreateSession", Answer::refused, true, 1, "refused to share", {"CreateSession"}, 0},
        {"SelectSources", Answer::refused, true, 1, "refused to share", {"CreateSession", "SelectSources"}, 1},
        {"Start", Answer::cancelled, true, 1, "was cancelled", {"CreateSession", "SelectSources", "Start"}, 1},
        {"Start", Answer::never, true, 1, "did not answer", {"CreateSession", "SelectSources", "Start"}, 1},
        {"", Answer::refused, false, 1, "shared no screen", {"CreateSession", "SelectSources", "Start"}, 1},
        {"", Answer::refused, true, 2 /* windows only */, "cannot share a whole screen", {}, 0},
        {"", Answer::refused, true, 0, "Install the one for your desktop", {}, 0},
        {"", Answer::refused, true, 1, "offers no screen sharing portal", {}, 0, "org.freedesktop.portal.Nobody"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.failure) + " at " + c.step);
        preferences->setValue(PortalScreenCast::restoreTokenKey, QStringLiteral("token-1"));
        fake.methods.clear();
        fake.closedSessions.clear();
        fake.closedRequests.clear();
        fake.answers = {{QString::fromLatin1(c.step), c.answer}}; // "" names no method
        fake.shareStream = c.shareStream;
        fake.sourceTypes = c.sourceTypes;
        auto portal = makePortal(QString::fromLatin1(c.service));
        const QString failure = failureOf(*portal);
        EXPECT_TRUE(failure.contains(QLatin1String(c.failure))) << failure.toStdString();
        EXPECT_EQ(fake.methods, c.methods);
        EXPECT_EQ(storedToken(), QStringLiteral("token-1"));
        const QStringList withdrawn = c.answer == Answer::never
                                          ? QStringList{fake.last.value(QStringLiteral("Start")).requestPath}
                                          : QStringList{};
        EXPECT_TRUE(waitUntil([&] {
            return fake.closedSessions.size() == c.closedSessions && fake.closedRequests == withdrawn;
        })) << fake.closedRequests.join(' ').toStdString();
    }
}

// The setup card's portal steps: one screen ask opens one session, keeps the
// token and closes the session; a refusal is quiet; a remembered choice (or
// X11) opens no dialog.
TEST_F(PortalScreenCastTest, SetupScreenAskIsRememberedAndARefusalStaysUndone)
{
    const struct {
        const char *name;
        QString method; // answered with `answer`; the rest succeed
        Answer answer;
        bool granted;
        std::optional<QString> token; // kept from before
    } cases[] = {
        {"shared", QStringLiteral("Start"), Answer::success, true},
        {"cancelled in the dialog", QStringLiteral("Start"), Answer::cancelled, false},
        {"refused by the desktop", QStringLiteral("SelectSources"), Answer::refused, false},
        {"remembered", QStringLiteral("Start"), Answer::refused, true, QStringLiteral("kept")},
    };
    const auto permissions = setupPermissions();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        preferences->remove(PortalScreenCast::restoreTokenKey);
        if (c.token)
            preferences->setValue(PortalScreenCast::restoreTokenKey, *c.token);
        fake.answers = {{c.method, c.answer}};
        fake.methods.clear();
        fake.closedSessions.clear();

        EXPECT_EQ(run(permissions->requestScreen()), c.granted);
        EXPECT_EQ(permissions->screenPreflight(), c.granted);
        // The desktop stops sharing at once, whatever the answer.
        const int sessions = c.token ? 0 : 1;
        EXPECT_EQ(fake.methods.count(QStringLiteral("CreateSession")), sessions);
        EXPECT_TRUE(waitUntil([&] { return fake.closedSessions.size() == sessions; }));
    }
    EXPECT_TRUE(run(LinuxSetupPermissions({}, {}).requestScreen())) << "X11";
}

// In a sandbox the camera is asked about through the portal.
TEST_F(PortalScreenCastTest, SetupSandboxedCameraIsAskedForThroughThePortal)
{
    PortalCamera camera(PortalScreenCast::Options{bus.connect()});
    LinuxSetupPermissions sandboxed({}, {}, {[&] { return camera.status(); }, [&] { return camera.ask(); }});
    const struct {
        const char *name;
        bool present;
        Answer answer;
        Authorization after;
    } cases[] = {
        {"allowed", true, Answer::success, Authorization::authorized},
        {"cancelled", true, Answer::cancelled, Authorization::notDetermined},
        {"no camera", false, Answer::success, Authorization::notDetermined},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        fake.cameraPresent = c.present;
        fake.cameraAllowed = false;
        fake.answers = {{QStringLiteral("AccessCamera"), c.answer}};
        EXPECT_EQ(statusOf(sandboxed), Authorization::notDetermined);
        run(sandboxed.requestCamera());
        EXPECT_EQ(statusOf(sandboxed), c.after);
    }
}

} // namespace
