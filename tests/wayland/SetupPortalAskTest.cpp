#include "Await.h"
#include "FakeScreenCastPortal.h"
#include "MemoryPreferenceStore.h"
#include "WaylandTestServices.h"
#include "platform/LinuxSetupPermissions.h"
#include "platform/capture/PortalCamera.h"
#include "platform/capture/WaylandCapturePlatform.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <future>

using Answer = FakeScreenCastPortal::Answer;
using Authorization = SetupPermissions::Authorization;

namespace {

// The status call blocks, so it runs beside the loop that lets the fake answer.
Authorization statusOf(SetupPermissions &permissions)
{
    std::future<Authorization> status = std::async(std::launch::async, [&] { return permissions.cameraStatus(); });
    waitUntil([&] { return status.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 60000);
    return status.get();
}

// The setup card's portal steps against a scripted portal: one screen ask
// opens one session, keeps the token and closes the session; a refusal is
// quiet. In a sandbox the camera is asked about through the portal.
class SetupPortalAskTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!bus.start())
            GTEST_SKIP() << "No private session bus (dbus-daemon)";
        ASSERT_TRUE(fake.registerOn(bus.connect()));
        // Any open descriptor will do: nothing streams from it.
        fake.makeRemote = [] { return ::open("/dev/null", O_RDONLY | O_CLOEXEC); };
        options.bus = bus.connect();
        auto platform =
            std::make_shared<WaylandCapturePlatform>(std::make_shared<PortalScreenCast>(preferences, options));
        permissions =
            std::make_unique<LinuxSetupPermissions>([this] { return PortalScreenCast::remembersChoice(*preferences); },
                                                    [platform] { return platform->askOnce(); });
    }

    PrivateSessionBus bus;
    FakeScreenCastPortal fake;
    std::shared_ptr<MemoryPreferenceStore> preferences = std::make_shared<MemoryPreferenceStore>();
    std::unique_ptr<LinuxSetupPermissions> permissions;
    PortalScreenCast::Options options;
};

TEST_F(SetupPortalAskTest, OneAskIsRememberedAndARefusalStaysUndone)
{
    const struct {
        const char *name;
        QString method; // answered with `answer`; the rest succeed
        Answer answer;
        bool granted;
    } cases[] = {
        {"shared", QStringLiteral("Start"), Answer::success, true},
        {"cancelled in the dialog", QStringLiteral("Start"), Answer::cancelled, false},
        {"refused by the desktop", QStringLiteral("SelectSources"), Answer::refused, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        preferences->remove(PortalScreenCast::restoreTokenKey);
        fake.answers = {{c.method, c.answer}};
        fake.calls.clear();
        fake.closedSessions.clear();

        EXPECT_EQ(run(permissions->requestScreen()), c.granted);
        EXPECT_EQ(permissions->screenPreflight(), c.granted);
        EXPECT_EQ(fake.methods().count(QStringLiteral("CreateSession")), 1);
        // The desktop stops sharing at once, whatever the answer.
        EXPECT_TRUE(waitUntil([&] { return fake.closedSessions.size() == 1; }));
    }
}

TEST_F(SetupPortalAskTest, AskingWhenRememberedOrOnX11OpensNoDialog)
{
    preferences->setValue(PortalScreenCast::restoreTokenKey, QStringLiteral("kept"));
    EXPECT_TRUE(run(permissions->requestScreen()));
    EXPECT_TRUE(fake.calls.isEmpty());
    EXPECT_TRUE(run(LinuxSetupPermissions({}, {}).requestScreen())) << "X11";
}

TEST_F(SetupPortalAskTest, SandboxedCameraIsAskedForThroughThePortal)
{
    PortalCamera camera(options);
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
