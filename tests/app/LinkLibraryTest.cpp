#include "app/LinkLibrary.h"

#include "Await.h"
#include "MemoryPreferenceStore.h"
#include "RecordingDoubles.h"

#include <gtest/gtest.h>

namespace {

const QDateTime kNow = QDateTime::fromMSecsSinceEpoch(1800000000000, Qt::UTC);
const QString kOrigin = QStringLiteral("http://127.0.0.1:8787");

RecentLink link(const QString &id, qint64 expiresInSeconds = 86400, const QString &title = QStringLiteral("Title"))
{
    return RecentLink{id, kOrigin + QStringLiteral("/v/") + id, title, kNow.addSecs(-60),
                      kNow.addSecs(expiresInSeconds)};
}

// Each link as "id title +seconds left", for whole-list comparisons.
QStringList rows(const QList<RecentLink> &links)
{
    QStringList out;
    for (const auto &l : links)
        out << QStringLiteral("%1 %2 +%3").arg(l.id, l.title).arg(kNow.secsTo(l.expiresAt));
    return out;
}

class LinkLibraryTest : public ::testing::Test {
protected:
    void SetUp() override { service.listError.reset(); }
    void TearDown() override { qunsetenv("MIVRA_PREVIEW_LINKS"); }

    void store(const QList<RecentLink> &links)
    {
        prefs.values.insert(QStringLiteral("recentLinks"), PrefValue(RecentLinkCoding::encode(links)));
    }
    std::unique_ptr<LinkLibrary> make()
    {
        return std::make_unique<LinkLibrary>(
            prefs, service, [this](const QString &id) { removedThumbs << id; }, kOrigin, [] { return kNow; });
    }
    QList<RecentLink> stored() const
    {
        return RecentLinkCoding::decode(prefs.dataValue(QStringLiteral("recentLinks")).value_or(QByteArray()))
            .value_or(QList<RecentLink>{});
    }

    MemoryPreferenceStore prefs;
    FakeUploader service;
    QStringList removedThumbs;
};

TEST_F(LinkLibraryTest, LoadPrunesExpiredLinksAndKeepsWhatItCannotRead)
{
    store({link(QStringLiteral("a")), link(QStringLiteral("gone"), -1), link(QStringLiteral("b"))});
    const int writesBefore = prefs.writes;
    EXPECT_EQ(rows(make()->recent()), QStringList({"a Title +86400", "b Title +86400"}));
    EXPECT_EQ(prefs.writes, writesBefore);

    prefs.values.insert(QStringLiteral("recentLinks"), PrefValue(QByteArray("[{\"id\":\"a\"}]")));
    EXPECT_TRUE(make()->recent().isEmpty());
    EXPECT_EQ(prefs.dataValue(QStringLiteral("recentLinks")), QByteArray("[{\"id\":\"a\"}]"));
}

TEST_F(LinkLibraryTest, AddNewPutsNewestFirstAndKeepsTwenty)
{
    auto library = make();
    for (int i = 0; i < 22; ++i)
        library->addNew(link(QString::number(i)));
    ASSERT_EQ(library->recent().size(), 20);
    EXPECT_EQ(library->recent().first().id, QStringLiteral("21"));
    EXPECT_EQ(library->recent().last().id, QStringLiteral("2"));
    EXPECT_EQ(stored(), library->recent());
}

TEST_F(LinkLibraryTest, PreviewModeBuildsLinksAndNeverWritesOrFetches)
{
    store({link(QStringLiteral("stored"))});
    std::unique_ptr<LinkLibrary> library;
    for (const auto &[value, expected] :
         {std::pair<const char *, QStringList>{"", {}},
          {"ab12:Demo one,,cd34,:::,::x,ef:a:b",
           {"ab12 Demo one +2548800", "cd34 Recording +2548800", "x Recording +2548800", "ef a:b +2548800"}}}) {
        qputenv("MIVRA_PREVIEW_LINKS", value);
        library = make();
        EXPECT_TRUE(library->previewLinks());
        EXPECT_EQ(rows(library->recent()), expected) << value;
    }
    EXPECT_EQ(library->recent().value(0).shareUrl, kOrigin + QStringLiteral("/v/ab12"));

    const int writesBefore = prefs.writes;
    library->addNew(link(QStringLiteral("new")));
    run(library->refreshFromServer());
    EXPECT_EQ(prefs.writes, writesBefore);
    EXPECT_TRUE(service.calls.isEmpty());
}

TEST_F(LinkLibraryTest, RefreshMergesWithTheServiceList)
{
    store({link(QStringLiteral("a"), 100, QStringLiteral("Local A")), link(QStringLiteral("b")),
           link(QStringLiteral("c"), 100, QStringLiteral("Local C"))});
    auto library = make();
    service.list.videos = {{QStringLiteral("c"), 1900000000000, QStringLiteral("")},
                           {QStringLiteral("a"), 1800000500000, QStringLiteral("Server A")},
                           {QStringLiteral("a"), 1, QStringLiteral("Duplicate A")},
                           {QStringLiteral("z"), 1, std::nullopt}};
    run(library->refreshFromServer());
    // Order kept, unknown z not added; an empty service title keeps ours.
    EXPECT_EQ(rows(library->recent()), QStringList({"a Server A +500", "c Local C +100000000"}));
    EXPECT_EQ(removedThumbs, QStringList({"b"}));
    EXPECT_EQ(stored(), library->recent());
}

TEST_F(LinkLibraryTest, RefreshKeepsAllOnFailureAndLinksAddedWhileItWasAnswered)
{
    store({link(QStringLiteral("a"))});
    auto library = make();
    service.error = QStringLiteral("offline");
    run(library->refreshFromServer());
    EXPECT_EQ(rows(library->recent()), QStringList({"a Title +86400"}));

    // The service's answer was made before the upload completed.
    service.error.reset();
    service.beforeReply = [&] { library->addNew(link(QStringLiteral("n"))); };
    run(library->refreshFromServer());
    EXPECT_EQ(rows(library->recent()), QStringList({"n Title +86400"}));
    EXPECT_EQ(removedThumbs, QStringList({"a"}));

    // The next refresh knows it: gone from the service means gone here.
    service.beforeReply = nullptr;
    run(library->refreshFromServer());
    EXPECT_TRUE(library->recent().isEmpty());
    EXPECT_EQ(removedThumbs, QStringList({"a", "n"}));
}

TEST_F(LinkLibraryTest, RefusedEditsKeepTheLinkAndSayWhatFailed)
{
    store({link(QStringLiteral("a"))});
    auto library = make();
    QStringList said;
    QObject::connect(library.get(), &LinkLibrary::failed, [&](const QString &text) { said << text; });
    service.error = QStringLiteral("Server returned 500: boom");
    const RecentLink a = library->recent().first();
    run(library->deleteLink(a));
    run(library->rename(a, QStringLiteral("Other")));
    run(library->setLifetime(a, Lifetime::ofSeconds(7200)));
    EXPECT_EQ(said, QStringList({"Could not delete: Server returned 500: boom",
                                 "Could not rename it: Server returned 500: boom",
                                 "Could not change how long it lasts: Server returned 500: boom"}));
    EXPECT_EQ(library->recent(), QList<RecentLink>{link(QStringLiteral("a"))});
}

TEST_F(LinkLibraryTest, DeleteRemovesEveryEntryAndThumbnail)
{
    store({link(QStringLiteral("a")), link(QStringLiteral("b")), link(QStringLiteral("a"))});
    auto library = make();
    run(library->deleteLink(link(QStringLiteral("a"))));
    EXPECT_EQ(rows(library->recent()), QStringList({"b Title +86400"}));
    EXPECT_EQ(removedThumbs, QStringList({"a"}));
    EXPECT_EQ(stored(), library->recent());
}

TEST_F(LinkLibraryTest, EditsTakeTheServiceTitleAndExpiryAndRenameSkipsNoOps)
{
    store({link(QStringLiteral("a"), 86400, QStringLiteral("Demo"))});
    auto library = make();
    run(library->rename(library->recent().first(), QStringLiteral("  Demo \n")));
    run(library->rename(library->recent().first(), QStringLiteral(" \t\n")));
    EXPECT_TRUE(service.calls.isEmpty());

    service.renamedTitle = QStringLiteral("New (as stored)");
    run(library->rename(library->recent().first(), QStringLiteral("  New\n")));
    // The service's expiry is stored too.
    service.expiresAtMs = 1810000000000;
    run(library->setLifetime(library->recent().first(), Lifetime::forever()));
    EXPECT_EQ(service.calls, QStringList({"rename a New", "expiry a forever"}));
    EXPECT_EQ(rows(library->recent()), QStringList({"a New (as stored) +10000000"}));
    EXPECT_EQ(stored(), library->recent());
}

} // namespace
