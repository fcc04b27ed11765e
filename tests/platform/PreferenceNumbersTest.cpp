// Numbers in a hand-edited preference file that no 64-bit integer can hold.
#include "platform/FilePreferenceStore.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

TEST(PreferenceNumbers, OutOfRangeIntegersReadAsAbsent)
{
    struct Case {
        const char *json;
        std::optional<qint64> expected;
    };
    const Case cases[] = {
        {"1e300", std::nullopt},
        {"-1e300", std::nullopt},
        {"9223372036854775808", std::nullopt},
        {"1.5", std::nullopt},
        {"-9223372036854775808", std::numeric_limits<qint64>::min()},
        {"3600", 3600},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.json);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("preferences.json"));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(R"({"format": 1, "values": {"newVideoLifetime": {"type": "int", "value": )") + c.json +
                   "}}}");
        file.close();
        FilePreferenceStore store(path);
        EXPECT_EQ(store.intValue(QStringLiteral("newVideoLifetime")), c.expected);
    }
}

} // namespace
