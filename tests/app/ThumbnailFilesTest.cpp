#include "service/ThumbnailFiles.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

void touch(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
}

TEST(ThumbnailFiles, RemovesTheLinksJpegOnlyAndIdsCannotReachOutsideTheFolder)
{
    const QString mine = ThumbnailFiles::pathFor(QStringLiteral("ab12"));
    EXPECT_TRUE(mine.endsWith(QStringLiteral("/Mivra Video/Thumbnails/ab12.jpg")));
    const QString other = ThumbnailFiles::folder() + QStringLiteral("/cd34.jpg");
    const QString outside = QDir::cleanPath(ThumbnailFiles::folder() + QStringLiteral("/../precious.jpg"));
    for (const QString &path : {mine, other, outside})
        touch(path);
    for (const char *id : {"ab12", "missing", "../precious", "..", ".", "a/../../precious", ""})
        ThumbnailFiles::remove(QString::fromLatin1(id));
    EXPECT_EQ(QList<bool>({QFile::exists(mine), QFile::exists(other), QFile::exists(outside)}),
              QList<bool>({false, true, true}));
    EXPECT_TRUE(ThumbnailFiles::pathFor(QStringLiteral("../precious")).isEmpty());
}

} // namespace
