#include "Await.h"
#include "BundleRig.h"
#include "SetupRig.h"

#include <gtest/gtest.h>

namespace {
using Authorization = SetupPermissions::Authorization;

QStringList titles(const SetupCard &card)
{
    QStringList out;
    for (const SetupCardRow &row : card.rows)
        out << QString::number(row.number) + (row.done ? "✓ " : " ") + row.title + (row.current ? " *" : "");
    return out;
}

TEST(SetupTest, ListsTheStepsTheMachineNeeds)
{
    const Authorization ok = Authorization::authorized, ask = Authorization::notDetermined, no = Authorization::denied;
    const struct {
        const char *name;
        bool installed;
        Authorization camera, microphone;
        bool screen, cameraOn;
        QString preview, header;
        QStringList rows;
    } cases[] = {
        {"nothing needed", true, ok, ok, true, true, {}, {}, {}},
        {"camera off hides its step", true, ask, ok, true, false, {}, {}, {}},
        {"camera on lists it", true, ask, ok, true, true, {}, "Step 1 of 1", {"1 Allow the camera *"}},
        {"only install", false, ok, ok, true, true, {}, "Step 1 of 1", {"1 Move to Applications *"}},
        {"microphone and screen",
         true,
         ok,
         no,
         false,
         true,
         {},
         "Step 1 of 2",
         {"1 Allow the microphone *", "2 Allow screen recording"}},
        {"preview microphone",
         true,
         ok,
         ok,
         true,
         true,
         "microphone",
         "Step 3 of 4",
         {"1✓ Move to Applications", "2✓ Allow the camera", "3 Allow the microphone *", "4 Allow screen recording"}},
        {"preview of nonsense", true, ok, ok, true, true, "everything", {}, {}},
    };
    for (const auto &c : cases) {
        SetupWorld world;
        const QString folder = c.installed ? world.apps() : world.downloads();
        const QString bundle = BundleRig::makeBundle(folder, "Mivra Video", "1.0");
        world.permissions->camera = c.camera;
        world.permissions->microphone = c.microphone;
        world.permissions->screen = c.screen;
        const auto setup = world.makeSetup(bundle, c.preview);
        const SetupCard card = setup->card(c.cameraOn, true);
        EXPECT_EQ(card.shown, !c.rows.isEmpty()) << c.name;
        EXPECT_EQ(card.header, c.header) << c.name;
        EXPECT_EQ(titles(card), c.rows) << c.name;
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
    const SetupCard card = setup->card(true, true);
    EXPECT_EQ(titles(card), (QStringList{"1 Allow the camera *", "2✓ Allow the microphone"}));
    EXPECT_EQ(card.rows[0].button, "Open Settings");
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
        EXPECT_FALSE(row.note.isEmpty());
        world.permissions->calls.clear();
        run(setup->perform(SetupStep::screen));
        EXPECT_EQ(world.permissions->calls, QStringList{"open Privacy_ScreenCapture"});
    }
}

TEST(SetupTest, PreviewOfTheAskedScreenStepShowsItsNote)
{
    SetupWorld world;
    const auto setup = world.makeSetup(BundleRig::makeBundle(world.apps(), "Mivra Video", "1.0"), "screen-asked");
    const SetupCardRow row = setup->card(false, false).rows.last();
    EXPECT_TRUE(row.current);
    EXPECT_EQ(row.button, "Open Settings again");
    EXPECT_EQ(row.note, "The first time you record, your desktop asks once more. Click Share.");
}
} // namespace
