#include "app/Preferences.h"

#include "MemoryPreferenceStore.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

TEST(PreferencesLoad, DefaultsWhenAbsentOrUnreadable)
{
    MemoryPreferenceStore store;
    store.values.insert(QStringLiteral("micEnabled"), PrefValue(QStringLiteral("yes"))); // not a boolean
    store.values.insert(QStringLiteral("bubbleInVideo"), PrefValue(QStringLiteral("middle")));
    store.values.insert(QStringLiteral("recordingsStarted"), PrefValue(QStringLiteral("7")));
    Preferences prefs(store);
    EXPECT_EQ(std::tuple(prefs.cameraEnabled(), prefs.micEnabled(), prefs.showInDock(), prefs.bubbleInVideo(),
                         prefs.newVideoLifetime(), prefs.recordingsStarted(), prefs.effectiveNewLifetime()),
              std::tuple(true, true, true, BubbleSpot::bottomLeft, std::nullopt, 0, Lifetime::ofSeconds(2592000)));
}

TEST(PreferencesLoad, ReadsStoredValues)
{
    MemoryPreferenceStore store;
    store.values.insert(QStringLiteral("cameraEnabled"), PrefValue(false));
    store.values.insert(QStringLiteral("bubbleInVideo"), PrefValue(QStringLiteral("topRight")));
    store.values.insert(QStringLiteral("recordingsStarted"), PrefValue(qint64(12)));
    Preferences prefs(store);
    EXPECT_EQ(std::tuple(prefs.cameraEnabled(), prefs.bubbleInVideo(), prefs.recordingsStarted()),
              std::tuple(false, BubbleSpot::topRight, 12));
}

TEST(PreferencesLoad, NewVideoLifetimeRules)
{
    const std::pair<PrefValue, std::optional<Lifetime>> cases[] = {
        {PrefValue(qint64(1800)), std::nullopt},
        {PrefValue(qint64(-1)), Lifetime::forever()},
        {PrefValue(qint64(3600)), Lifetime::ofSeconds(3600)},
        {PrefValue(qint64(0)), std::nullopt},
        {PrefValue(qint64(-2)), std::nullopt},
        {PrefValue(QStringLiteral("3600")), std::nullopt},
        {PrefValue(true), std::nullopt},
    };
    for (const auto &[stored, expected] : cases) {
        MemoryPreferenceStore store;
        store.values.insert(QStringLiteral("newVideoLifetime"), stored);
        EXPECT_EQ(Preferences(store).newVideoLifetime(), expected);
    }
}

TEST(PreferencesWrite, EqualValueWritesButDoesNotNotify)
{
    MemoryPreferenceStore store;
    Preferences prefs(store);
    QSignalSpy spy(&prefs, &Preferences::cameraEnabledChanged);
    // Signals, writes and what is stored after each.
    const auto after = [&] { return std::tuple(spy.count(), store.writes, store.boolValue("cameraEnabled")); };
    prefs.setCameraEnabled(true);
    EXPECT_EQ(after(), std::tuple(0, 1, true));
    prefs.setCameraEnabled(false);
    EXPECT_EQ(after(), std::tuple(1, 2, false));
}

TEST(PreferencesWrite, NewVideoLifetimeStoredAsIntegerOrRemoved)
{
    MemoryPreferenceStore store;
    Preferences prefs(store);
    prefs.setNewVideoLifetime(Lifetime::forever());
    EXPECT_EQ(store.intValue(QStringLiteral("newVideoLifetime")), -1);
    prefs.setNewVideoLifetime(Lifetime::ofSeconds(7200));
    EXPECT_EQ(store.intValue(QStringLiteral("newVideoLifetime")), 7200);
    EXPECT_EQ(prefs.effectiveNewLifetime(), Lifetime::ofSeconds(7200));
    prefs.setNewVideoLifetime(std::nullopt);
    EXPECT_FALSE(store.value(QStringLiteral("newVideoLifetime")));
    // And what was written reads back the same.
    prefs.setNewVideoLifetime(Lifetime::ofSeconds(86400));
    prefs.setBubbleInVideo(BubbleSpot::asOnScreen);
    Preferences again(store);
    EXPECT_EQ(again.newVideoLifetime(), Lifetime::ofSeconds(86400));
    EXPECT_EQ(again.bubbleInVideo(), BubbleSpot::asOnScreen);
}

} // namespace
