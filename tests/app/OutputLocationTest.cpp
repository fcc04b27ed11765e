#include "app/OutputLocation.h"

#include "Await.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

TEST(OutputLocation, MakesMissingFoldersForADatedLocalTimeName)
{
    QTemporaryDir home;
    const QString folder = home.path() + QStringLiteral("/Videos/deeper/Mivra");
    const QDateTime now(QDate(2026, 1, 2), QTime(3, 4, 5), Qt::LocalTime);
    EXPECT_EQ(OutputLocation::make(folder, now.toUTC()), folder + QStringLiteral("/Mivra 2026-01-02 03.04.05.mp4"));
    EXPECT_TRUE(QFileInfo(folder).isDir());

    // A plain file where the folder should be.
    const QString file = folder + QStringLiteral("/notes");
    ASSERT_TRUE(QFile(file).open(QIODevice::WriteOnly));
    EXPECT_EQ(failureText([&] { OutputLocation::make(file, now); }),
              QStringLiteral("Could not create the folder for recordings at %1.").arg(file));
}

} // namespace
