#include "Await.h"
#include "BundleRig.h"
#include "SetupRig.h"

#include "setup/BundleInfo.h"
#include "setup/Installation.h"

#include <QQmlContext>
#include <QQuickItem>
#include <QQuickView>
#include <QRegularExpression>
#include <QTest>

#include <gtest/gtest.h>

namespace {
using Authorization = SetupPermissions::Authorization;

QString versionAt(const QString &folder)
{
    return BundleInfo::read(folder).value_or(BundleInfo{}).version;
}

// The Exec line of our menu entry.
QString desktopExec()
{
    QFile file(Installation::desktopEntryPath());
    file.open(QIODevice::ReadOnly);
    return QRegularExpression(QStringLiteral("^Exec=(.*)$"), QRegularExpression::MultilineOption)
        .match(QString::fromUtf8(file.readAll()))
        .captured(1);
}

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
    world.permissions->microphone = Authorization::notDetermined;
    const auto setup = world.makeSetup(BundleRig::makeBundle(world.apps(), "Mivra Video", "1.0"));
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
        EXPECT_EQ(row.button + " / " + row.note,
                  "Open Settings again / The first time you record, your desktop asks once more. Click Share.");
        world.permissions->calls.clear();
        run(setup->perform(SetupStep::screen));
        EXPECT_EQ(world.permissions->calls, QStringList{"open Privacy_ScreenCapture"});
    }
}

TEST(InstallationTest, FromDownloadsItReplacesTheDestinationAndRelaunchesThere)
{
    const struct {
        const char *name;
        bool trashWorks;
        bool launchWorks;
    } cases[] = {{"all goes well", true, true},
                 {"the download cannot be trashed", false, true},
                 {"the new copy cannot start", true, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SetupWorld world;
        qputenv("MIVRA_PREVIEW_LINKS", "1");
        const QString download = BundleRig::makeBundle(world.downloads(), "Mivra Video", "2.0");
        const QString destination = world.apps() + "/Mivra Video";
        if (c.trashWorks)
            BundleRig::makeBundle(world.apps(), "Mivra Video", "1.0");
        else // a file where the Trash should be
            QFile(qEnvironmentVariable("XDG_DATA_HOME") + "/Trash").open(QIODevice::WriteOnly);
        world.launcher.works = c.launchWorks;
        const auto setup = world.makeSetup(download);
        run(setup->perform(SetupStep::install));
        qunsetenv("MIVRA_PREVIEW_LINKS");
        EXPECT_EQ(std::tuple(versionAt(destination), desktopExec(), world.launcher.launched,
                             world.launcher.carried.value("MIVRA_PREVIEW_LINKS"), world.quits, setup->installFailed(),
                             setup->installBusy()),
                  std::tuple(QStringLiteral("2.0"), "\"" + destination + "/AppRun\" %U",
                             QStringList{destination + "/AppRun"}, QStringLiteral("1"), c.launchWorks ? 1 : 0,
                             !c.launchWorks, false));
        if (c.trashWorks) {
            EXPECT_FALSE(QFile::exists(download));
            QStringList trashed;
            for (const QString &name : QDir(world.trash()).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
                trashed << versionAt(world.trash() + "/" + name);
            trashed.sort();
            EXPECT_EQ(trashed, (QStringList{"1.0", "2.0"}));
            EXPECT_TRUE(setup->leftover().isEmpty());
        } else {
            EXPECT_EQ(setup->leftover() + " in " + setup->leftoverFolder(), download + " in Downloads");
            // The next run shows the note until the copy is gone.
            const auto next = world.makeSetup(destination);
            EXPECT_EQ(std::pair(next->leftover(), next->card(true, true).rows.size()),
                      std::pair(download, qsizetype(0)));
            QDir(download).removeRecursively();
            next->refresh();
            EXPECT_EQ(std::pair(next->leftover(), world.store->textValue(Installation::kLeftoverKey)),
                      std::pair(QString(), std::optional<QString>()));
        }
    }
}

TEST(InstallationTest, FromTheApplicationsFolderOnlyOldCopiesOfOursAreTrashed)
{
    SetupWorld world;
    const QString running = BundleRig::makeBundle(world.apps(), "Mivra Video", "2.0");
    const QString old = BundleRig::makeBundle(world.home() + "/Applications", "Mivra Video old", "1.0");
    const QString stranger =
        BundleRig::makeBundle(world.home() + "/Applications", "Other App", "1.0", "org.example.other");
    const QString bare = world.apps() + "/No Metainfo";
    QDir().mkpath(bare + "/bin");
    QFile(bare + "/AppRun").open(QIODevice::WriteOnly);
    const QByteArray othersBefore = BundleRig::treeDigest(stranger) + BundleRig::treeDigest(bare);

    const auto setup = world.makeSetup(running);
    EXPECT_EQ(setup->oldCopies(), QStringList{old});
    EXPECT_EQ(describe(setup->card(true, true)), "Step 1 of 1: 1 Remove the old copy [Move to Trash]");

    run(setup->perform(SetupStep::install));
    EXPECT_FALSE(QFile::exists(old));
    EXPECT_EQ(versionAt(world.trash() + "/Mivra Video old"), "1.0");
    EXPECT_EQ(BundleRig::treeDigest(stranger) + BundleRig::treeDigest(bare), othersBefore);
    EXPECT_EQ(std::tuple(setup->isDone(SetupStep::install), describe(setup->card(true, true)), desktopExec(),
                         world.launcher.launched),
              std::tuple(true, QStringLiteral("hidden"), "\"" + running + "/AppRun\" %U", QStringList{}));
}

TEST(InstallationTest, AFailedCopyLeavesNoHalfBundleAndShowsTheManualWay)
{
    SetupWorld world;
    const QString download = BundleRig::makeBundle(world.downloads(), "Mivra Video", "2.0");
    // The install folder is a file: nothing can be copied into it.
    QDir(world.apps()).removeRecursively();
    QFile(world.apps()).open(QIODevice::WriteOnly);
    const auto setup = world.makeSetup(download);
    run(setup->perform(SetupStep::install));
    EXPECT_TRUE(setup->installFailed());
    EXPECT_TRUE(QFile::exists(download + "/AppRun"));
    EXPECT_FALSE(QFile::exists(world.apps() + "/Mivra Video.partial"));
    const SetupCardRow row = setup->card(true, true).rows.value(0);
    EXPECT_EQ(row.button, "Open Applications");
    EXPECT_TRUE(row.detail.startsWith("Move the Mivra Video folder from Downloads into ")) << qPrintable(row.detail);
    EXPECT_TRUE(world.launcher.launched.isEmpty());
}
// Rendered with the software renderer and saved under <build>/setup-shots for a look.
TEST(SetupViewsTest, TheCardAndTheNoteShowTheirTexts)
{
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    const struct {
        const char *name;
        QString preview;
        QString file;
        QString header; // empty: a leftover copy shows its note
    } cases[] = {
        {"preview microphone", "microphone", "SetupCard.qml", "Step 3 of 4"},
        {"leftover", "", "LeftoverNote.qml", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SetupWorld world;
        if (c.header.isEmpty())
            world.store->setValue(Installation::kLeftoverKey,
                                  BundleRig::makeBundle(world.downloads(), "Mivra Video", "1.0"));
        const auto setup = world.makeSetup(BundleRig::makeBundle(world.apps(), "Mivra Video", "1.0"), c.preview);
        QQuickView view;
        view.rootContext()->setContextProperty("setup", setup.get());
        view.setResizeMode(QQuickView::SizeViewToRootObject);
        view.setColor(QColor::fromRgbF(0.043f, 0.043f, 0.059f)); // the main window's background
        view.setSource(QUrl("qrc:/qml/" + c.file));
        ASSERT_EQ(view.status(), QQuickView::Ready) << qPrintable(view.errors().value(0).toString());
        QQuickItem *root = view.rootObject();
        root->setWidth(384); // the main window's column
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
        // Wrapped text settles its height after the first layout.
        QCoreApplication::processEvents();
        root->setHeight(root->implicitHeight());
        QCoreApplication::processEvents();
        EXPECT_FALSE(render(view, QString::fromLatin1(c.name).replace(' ', '-')).isNull());
        EXPECT_TRUE(root->isVisible());
        const auto *header = root->findChild<QObject *>("setupHeader");
        EXPECT_EQ(header ? header->property("text").toString() : QString(), c.header);
    }
}

} // namespace
