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

TEST(ThumbnailFiles, RemovesTheLinksJpegOnly)
{
    const QString mine = ThumbnailFiles::pathFor(QStringLiteral("ab12"));
    EXPECT_TRUE(mine.endsWith(QStringLiteral("/Mivra Video/Thumbnails/ab12.jpg")));
    touch(mine);
    touch(ThumbnailFiles::folder() + QStringLiteral("/cd34.jpg"));
    ThumbnailFiles::remove(QStringLiteral("ab12"));
    ThumbnailFiles::remove(QStringLiteral("missing")); // no error
    EXPECT_FALSE(QFile::exists(mine));
    EXPECT_TRUE(QFile::exists(ThumbnailFiles::folder() + QStringLiteral("/cd34.jpg")));
}

TEST(ThumbnailFiles, IdsCannotReachOutsideTheFolder)
{
    const QString outside = QDir::cleanPath(ThumbnailFiles::folder() + QStringLiteral("/../precious.jpg"));
    touch(outside);
    for (const char *id : {"../precious", "..", ".", "a/../../precious", ""})
        ThumbnailFiles::remove(QString::fromLatin1(id));
    EXPECT_TRUE(QFile::exists(outside));
    EXPECT_TRUE(ThumbnailFiles::pathFor(QStringLiteral("../precious")).isEmpty());
}

} // namespace
