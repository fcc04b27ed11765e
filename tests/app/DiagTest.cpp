#include "base/Diag.h"

#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include "ChildProcess.h"

#include <thread>
#include <vector>

namespace {

QByteArray logContents()
{
    QFile file(Diag::path());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class DiagTest : public ::testing::Test {
protected:
    void SetUp() override { QFile::remove(Diag::path()); }
};

TEST_F(DiagTest, LinesAreStampedAppendedInOrderAndKeptUnchanged)
{
    Diag::log(QStringLiteral("upload abc: complete, link http://x/v/abc"));
    Diag::log(QStringLiteral("two\nlines \u00e9"));
    static const QRegularExpression lines(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ upload abc: "
                       "complete, link http://x/v/abc\\n\\S+Z two\\nlines \u00e9\\n$"));
    const QString text = QString::fromUtf8(logContents());
    EXPECT_TRUE(lines.match(text).hasMatch()) << text.toStdString();
}

TEST_F(DiagTest, ConcurrentCallersLoseNoLine)
{
    constexpr int kThreads = 8;
    constexpr int kLinesEach = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLinesEach; ++i)
                Diag::log(QStringLiteral("thread %1 line %2 ").arg(t).arg(i) + QString(100, QLatin1Char('x')));
        });
    }
    for (auto &thread : threads)
        thread.join();
    const QList<QByteArray> lines = logContents().split('\n');
    ASSERT_EQ(lines.size(), kThreads * kLinesEach + 1);
    for (int i = 0; i < kThreads * kLinesEach; ++i)
        ASSERT_TRUE(lines[i].endsWith(QByteArray(100, 'x'))) << "torn line " << i;
}

TEST_F(DiagTest, UnwritableFileLosesTheLineQuietly)
{
    Diag::log(QStringLiteral("kept"));
    QFile::setPermissions(Diag::path(), QFile::ReadOwner | QFile::ReadOther);
    // As another user (or the owner of a read-only file) the write is refused.
    const int status = runInChild(
        [] {
            Diag::log(QStringLiteral("lost"));
            return 0;
        },
        /*unprivileged=*/true);
    QFile::setPermissions(Diag::path(), QFile::ReadOwner | QFile::WriteOwner);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(logContents().endsWith(" kept\n"));
}

} // namespace
