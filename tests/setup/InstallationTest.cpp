#include "Await.h"
#include "BundleRig.h"
#include "SetupRig.h"

#include "setup/BundleInfo.h"
#include "setup/Installation.h"

#include <QFile>
#include <QSettings>

#include <gtest/gtest.h>

namespace {
QString versionAt(const QString &folder)
{
    const auto bundle = BundleInfo::read(folder);
    return bundle ? bundle->version : QString();
}

QString desktopExec()
{
    QFile file(Installation::desktopEntryPath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith("Exec="))
            return QString::fromUtf8(line.mid(5));
    }
    return {};
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
                  std::tuple(QStringLiteral("2.0"), "\"" + destination + "/AppRun\" %U", QStringList{destination + "/AppRun"},
                             QStringLiteral("1"), c.launchWorks ? 1 : 0, !c.launchWorks, false));
        if (c.trashWorks) {
            EXPECT_FALSE(QFile::exists(download));
            QStringList trashed;
            for (const QString &name : QDir(world.trash()).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
                trashed << versionAt(world.trash() + "/" + name);
            trashed.sort();
            EXPECT_EQ(trashed, (QStringList{"1.0", "2.0"}));
            EXPECT_TRUE(setup->leftover().isEmpty());
        } else {
            EXPECT_EQ(setup->leftover(), download);
            EXPECT_EQ(setup->leftoverFolder(), "Downloads");
            // The next run shows the note until the copy is gone.
            const auto next = world.makeSetup(destination);
            EXPECT_EQ(next->leftover(), download);
            EXPECT_TRUE(next->card(true, true).rows.isEmpty());
            QDir(download).removeRecursively();
            next->refresh();
            EXPECT_TRUE(next->leftover().isEmpty());
            EXPECT_FALSE(world.store->textValue(Installation::kLeftoverKey));
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
    EXPECT_TRUE(setup->isDone(SetupStep::install));
    EXPECT_FALSE(setup->card(true, true).shown);
    EXPECT_EQ(desktopExec(), "\"" + running + "/AppRun\" %U");
    EXPECT_TRUE(world.launcher.launched.isEmpty());
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
} // namespace
