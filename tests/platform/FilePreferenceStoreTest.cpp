#include "platform/FilePreferenceStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "ChildProcess.h"
#include <gtest/gtest.h>

#include <csignal>
#include <limits>
#include <sys/resource.h>

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

class FilePreferenceStoreTest : public testing::Test {
protected:
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/p.json");
};

TEST_F(FilePreferenceStoreTest, KeepsTypesAcrossReopen)
{
    // The folder is made on the first write.
    const QString nested = dir.path() + QStringLiteral("/sub/preferences.json");
    const std::pair<const char *, PrefValue> values[] = {
        {"b", true},
        {"i", qint64(-1)},
        {"big", qint64(9007199254740993)},
        {"t", QStringLiteral("topLeft")},
        {"d", QByteArray("[{\"id\":1}]\0x", 13)},
        {"n", QList<double>{1.5, -2}},
    };
    {
        FilePreferenceStore store(nested);
        for (const auto &[key, value] : values)
            EXPECT_TRUE(store.setValue(QString::fromLatin1(key), value)) << key;
        EXPECT_TRUE(store.setValue(QStringLiteral("gone"), true));
        EXPECT_TRUE(store.remove(QStringLiteral("gone")));
    }
    FilePreferenceStore store(nested);
    for (const auto &[key, value] : values)
        EXPECT_EQ(store.value(QString::fromLatin1(key)), value) << key;
    EXPECT_FALSE(store.value(QStringLiteral("gone")));
    // A value of another type reads as absent.
    EXPECT_FALSE(store.intValue(QStringLiteral("b")));
    EXPECT_FALSE(store.boolValue(QStringLiteral("t")));
}

TEST_F(FilePreferenceStoreTest, OddEntriesReadAsAbsentAndTheRestIsKept)
{
    // Hand-edited numbers no 64-bit integer can hold read as absent too.
    writeFile(path, R"({"format":1,"values":{
        "ok":{"type":"bool","value":false},
        "frac":{"type":"int","value":1.5},
        "huge":{"type":"int","value":1e300},
        "tiny":{"type":"int","value":-1e300},
        "over":{"type":"int","value":9223372036854775808},
        "least":{"type":"int","value":-9223372036854775808},
        "hour":{"type":"int","value":3600},
        "liar":{"type":"bool","value":"yes"},
        "strange":[1,2],
        "bad64":{"type":"data","value":"!!!"}}})");
    FilePreferenceStore store(path);
    EXPECT_EQ(std::tuple(store.boolValue(QStringLiteral("ok")), store.intValue(QStringLiteral("least")),
                         store.intValue(QStringLiteral("hour"))),
              std::tuple(std::optional(false), std::optional(std::numeric_limits<qint64>::min()), std::optional(3600)));
    for (const char *absent : {"frac", "huge", "tiny", "over", "liar", "strange", "bad64"})
        EXPECT_FALSE(store.value(QString::fromLatin1(absent))) << absent;
    EXPECT_TRUE(store.setAsidePath().isEmpty());
}

TEST_F(FilePreferenceStoreTest, CorruptFileIsMovedAsideNotOverwritten)
{
    const QByteArray cut = R"({"format":1,"values":{"cameraEnabled":{"type":"bool","val)";
    writeFile(path, cut);
    FilePreferenceStore store(path);
    EXPECT_FALSE(store.value(QStringLiteral("cameraEnabled")));
    EXPECT_EQ(readAll(store.setAsidePath()), cut);
    EXPECT_TRUE(store.setValue(QStringLiteral("micEnabled"), false));
    EXPECT_EQ(FilePreferenceStore(path).boolValue(QStringLiteral("micEnabled")), false);
}

// A write that fails, in a folder it may not write to or on a disk that is
// full (a file-size limit in a child process), says so, holds the value for
// this run and leaves the previous file whole with no temporary beside it.
TEST_F(FilePreferenceStoreTest, AFailedWriteKeepsThePreviousFileAndTheValueForThisRun)
{
    FilePreferenceStore(path).setValue(QStringLiteral("micEnabled"), true);
    const QByteArray before = readAll(path);
    // Readable by all, writable by its owner only: the unprivileged child runs as another user.
    const auto open = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther |
                      QFile::ReadGroup | QFile::ExeGroup;
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther | QFile::ReadGroup);
    for (const bool fullDisk : {false, true}) {
        SCOPED_TRACE(fullDisk ? "full disk" : "read-only folder");
        QFile::setPermissions(dir.path(), fullDisk || geteuid() == 0 ? open : open & ~QFile::WriteOwner);
        const int status = runInChild(
            [&] {
                std::signal(SIGXFSZ, SIG_IGN);
                rlimit limit{4096, 4096};
                if (fullDisk)
                    setrlimit(RLIMIT_FSIZE, &limit);
                FilePreferenceStore store(path);
                if (store.boolValue(QStringLiteral("micEnabled")) != true)
                    return 2;
                if (store.setValue(QStringLiteral("micEnabled"), QByteArray(64 * 1024, 'z')))
                    return 3;
                return store.dataValue(QStringLiteral("micEnabled")).has_value() ? 0 : 4;
            },
            /*unprivileged=*/!fullDisk);
        QFile::setPermissions(dir.path(), open);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(readAll(path), before);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({"p.json"}));
    }
}

} // namespace
