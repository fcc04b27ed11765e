#include "Await.h"
#include "BundleRig.h"
#include "SetupRig.h"

#include <gtest/gtest.h>

namespace {
using Authorization = SetupPermissions::Authorization;

TEST(SetupTest, ListsTheStepsTheMachineNeeds)
{
    const Authorization ok = Authorization::authorized, ask = Authorization::notDetermined, no = Authorization::denied;
    const struct {
        bool installed;
        Authorization camera, microphone;
        bool screen, cameraOn;
        QString preview, card;
    } cases[] = {
        {true, ok, ok, true, true, "", "hidden"},
        {true, ask, ok, true, false, "", "hidden"}, // the camera turned off needs no step
        {true, ask, ok, true, true, "", "Step 1 of 1: 1 Allow the camera [Allow]"},
        {false, ok, ok, true, true, "", "Step 1 of 1: 1 Move to Applications [Move]"},
        {true, ok, no, false, true, "",
         "Step 1 of 2: 1 Allow the microphone [Open Settings], 2 Allow screen recording"},
        {true, ok, ok, true, true, "microphone",
         "Step 3 of 4: 1✓ Move to Applications, 2✓ Allow the camera, 3 Allow the microphone [Allow], 4 Allow screen "
         "recording"},
        {true, ok, ok, true, true, "screen-asked",
         "Step 4 of 4: 1✓ Move to Applications, 2✓ Allow the camera, 3✓ Allow the microphone, 4 Allow screen recording "
         "[Open Settings again]"},
        {true, ok, ok, true, true, "everything", "hidden"}, // a preview of nonsense
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.card.toStdString());
        SetupWorld world;
        const QString bundle =
            BundleRig::makeBundle(c.installed ? world.apps() : world.downloads(), "Mivra Video", "1.0");
        world.permissions->camera = c.camera;
        world.permissions->microphone = c.microphone;
        world.permissions->screen = c.screen;
        EXPECT_EQ(describe(world.makeSetup(bundle, c.preview)->card(c.cameraOn, true)), c.card);
    }
}

TEST(SetupTest, AStepNeededAtLaunchStaysCheckedAndARevokedOneAppears)
{
    SetupWorld world;
    const QString bundle = BundleRig::makeBundle(world.apps(), "Mivra Video", "1.0");
    world.permissions->microphone = Authorization::notDetermined;
    const auto setup = world.makeSetup(bundle);
    run(setup->perform(SetupStep::microphone));
    EXPECT_EQ(world.permissions->calls, QStringList{"requestMicrophone"});
    world.permissions->microphone = Authorization::authorized;
    world.permissions->camera = Authorization::denied; // revoked later
    setup->refresh();
    EXPECT_EQ(describe(setup->card(true, true)),
              "Step 1 of 2: 1 Allow the camera [Open Settings], 2✓ Allow the microphone");
    run(setup->perform(SetupStep::camera));
    EXPECT_EQ(world.permissions->calls.last(), "open Privacy_Camera");
}

TEST(SetupTest, TheScreenStepAsksFirstAndThenOpensSettings)
{
    const struct {
        bool active, grantedAtOnce;
        QStringList calls;
    } firstPress[] = {
        {true, false, {"requestScreen", "open Privacy_ScreenCapture"}},
        {false, false, {"requestScreen"}}, // a prompt took the focus
        {true, true, {"requestScreen"}},
    };
    for (const auto &c : firstPress) {
        SetupWorld world;
        const QString bundle = BundleRig::makeBundle(world.apps(), "Mivra Video", "1.0");
        world.permissions->screen = false;
        world.permissions->active = c.active;
        world.permissions->screenGrantedOnRequest = c.grantedAtOnce;
        auto setup = world.makeSetup(bundle);
        EXPECT_EQ(setup->card(true, true).rows[0].button, "Allow");
        run(setup->perform(SetupStep::screen));
        EXPECT_EQ(world.permissions->calls, c.calls);
        EXPECT_EQ(world.pauses, c.grantedAtOnce ? QList<qint64>{} : QList<qint64>{900});
        EXPECT_EQ(world.store->boolValue(Setup::kScreenAskedKey), true);
        if (c.grantedAtOnce)
            continue;

        // Second press, also after a restart: straight to the settings.
        setup = world.makeSetup(bundle);
        const SetupCardRow row = setup->card(true, true).rows[0];
        EXPECT_EQ(row.button, "Open Settings again");
        EXPECT_EQ(row.note, "The first time you record, your desktop asks once more. Click Share.");
        world.permissions->calls.clear();
        run(setup->perform(SetupStep::screen));
        EXPECT_EQ(world.permissions->calls, QStringList{"open Privacy_ScreenCapture"});
    }
}

} // namespace
