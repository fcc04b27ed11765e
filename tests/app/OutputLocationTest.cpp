#include "app/OutputLocation.h"

#include <QTemporaryDir>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

TEST(OutputLocation, DatedNameInLocalTime)
{
    const QDateTime local(QDate(2026, 12, 5), QTime(8, 55, 0), Qt::LocalTime);
    EXPECT_EQ(OutputLocation::fileName(local), QStringLiteral("Mivra 2026-12-05 08.55.00.mp4"));
    EXPECT_EQ(OutputLocation::fileName(local.toUTC()), QStringLiteral("Mivra 2026-12-05 08.55.00.mp4"));
}

TEST(OutputLocation, MakesMissingFoldersAndFailsClearlyWhenItCannot)
{
    QTemporaryDir home;
    const QString folder = home.path() + QStringLiteral("/Videos/deeper/Mivra");
    const QDateTime now(QDate(2026, 1, 2), QTime(3, 4, 5), Qt::LocalTime);
    EXPECT_EQ(OutputLocation::make(folder, now), folder + QStringLiteral("/Mivra 2026-01-02 03.04.05.mp4"));
    EXPECT_TRUE(QFileInfo(folder).isDir());

    // A plain file where the folder should be.
    QFile blocker(home.path() + QStringLiteral("/blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    try {
        OutputLocation::make(blocker.fileName() + QStringLiteral("/Mivra"), now);
        FAIL() << "expected a failure";
    } catch (const OutputLocationError &error) {
        EXPECT_EQ(error.description(),
                  QStringLiteral("Could not create the folder for recordings at %1/Mivra.").arg(blocker.fileName()));
    }
    try {
        OutputLocation::make(blocker.fileName(), now);
        FAIL() << "a file is not a folder";
    } catch (const OutputLocationError &) {
    }
}

} // namespace
