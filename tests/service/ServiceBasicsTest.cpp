// The device token, the service origin and the progress tracker.
#include "service/DeviceToken.h"
#include "service/ProgressTracker.h"
#include "service/ServiceOrigin.h"
#include "support/MemoryPreferenceStore.h"

#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

// MemoryPreferenceStore is not meant for threads; this one is, and it is
// slow to write, to widen the window in which two first uses could race.
struct SlowLockedStore final : PreferenceStore {
    std::optional<PrefValue> value(const QString &key) const override
    {
        const std::lock_guard lock(mutex);
        return inner.value(key);
    }
    bool setValue(const QString &key, const PrefValue &value) override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        const std::lock_guard lock(mutex);
        return inner.setValue(key, value);
    }
    bool remove(const QString &) override { return false; }

    mutable std::mutex mutex;
    MemoryPreferenceStore inner;
};

} // namespace

TEST(DeviceToken, MadeOnceAs64LowercaseHexAndKept)
{
    MemoryPreferenceStore store;
    DeviceToken token(store);
    const QString first = token.value();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9a-f]{64}$")).match(first).hasMatch()) << first.toStdString();
    // Stored; the same holder and a new one read it back.
    EXPECT_EQ((QStringList{store.textValue(QStringLiteral("deviceToken")).value_or(QString()), token.value(),
                           DeviceToken(store).value()}),
              QStringList(3, first));
    EXPECT_EQ(store.writes, 1);
    EXPECT_NE(DeviceToken::make(), DeviceToken::make());
    // A stored value wins; an empty one is replaced.
    store.setValue(QStringLiteral("deviceToken"), QStringLiteral("kept-from-an-older-version"));
    EXPECT_EQ(DeviceToken(store).value(), QStringLiteral("kept-from-an-older-version"));
    store.setValue(QStringLiteral("deviceToken"), QString());
    EXPECT_EQ(DeviceToken(store).value().size(), 64);
}

TEST(DeviceToken, ConcurrentFirstUseMakesOneToken)
{
    SlowLockedStore store;
    DeviceToken token(store);
    std::vector<QString> seen(8);
    std::vector<std::thread> threads;
    std::atomic<bool> go{false};
    for (size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back([&, i] {
            while (!go)
                std::this_thread::yield();
            seen[i] = token.value();
        });
    go = true;
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(QSet<QString>(seen.begin(), seen.end()).size(), 1);
    EXPECT_EQ(store.inner.writes, 1);
}

TEST(ServiceOrigin, EnvironmentOverridesOnlyWithAUsableOrigin)
{
    QList<QUrl> origins;
    for (const char *given :
         {"", "https://share.example.org/", "http://127.0.0.1:9000/base/", "ftp://x", "not a url", "http://x?token=1"})
        origins << serviceOriginFrom(QString::fromUtf8(given));
    const QUrl builtIn(QStringLiteral(MIVRA_DEFAULT_SERVICE_ORIGIN));
    EXPECT_EQ(origins, (QList<QUrl>{builtIn, QUrl("https://share.example.org"), QUrl("http://127.0.0.1:9000/base"),
                                    builtIn, builtIn, builtIn}));
}

TEST(ProgressTracker, SumsLatestCountsCappedAtTotal)
{
    QList<QPair<qint64, qint64>> reports;
    ProgressTracker tracker(25, [&](qint64 sent, qint64 total) { reports.append({sent, total}); });
    // The first part's second count replaces its first; the second part falls
    // back when retried; more than could be is capped.
    for (const auto &[part, sent] : {std::pair{1, 4}, {2, 6}, {1, 10}, {2, 3}, {3, 5}, {2, 10}, {2, 40}})
        tracker.update(part, sent);
    tracker.finish();
    EXPECT_EQ(reports, (QList<QPair<qint64, qint64>>{
                           {4, 25}, {10, 25}, {16, 25}, {13, 25}, {18, 25}, {25, 25}, {25, 25}, {25, 25}}));
}

TEST(ProgressTracker, ReportsAreNeverEnteredTwiceAtOnce)
{
    std::atomic<int> inside{0}, overlaps{0}, calls{0};
    std::atomic<qint64> highest{0};
    ProgressTracker tracker(1000, [&](qint64 sent, qint64 total) {
        if (inside.fetch_add(1) != 0 || sent > total)
            ++overlaps;
        highest = qMax(highest.load(), sent);
        std::this_thread::yield();
        ++calls;
        inside.fetch_sub(1);
    });
    std::vector<std::thread> threads;
    for (int part = 1; part <= 4; ++part)
        threads.emplace_back([&tracker, part] {
            for (int s = 0; s <= 500; ++s)
                tracker.update(part, s);
        });
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(std::make_tuple(overlaps.load(), calls.load(), highest.load()),
              std::make_tuple(0, 4 * 501, qint64(1000)));
}
