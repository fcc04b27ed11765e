#include "app/LinkLibrary.h"

#include "Await.h"
#include "MemoryPreferenceStore.h"
#include "RecordingDoubles.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

const QDateTime kNow = QDateTime::fromMSecsSinceEpoch(1800000000000, Qt::UTC);
const QString kOrigin = QStringLiteral("http://127.0.0.1:8787");

RecentLink link(const QString &id, qint64 expiresInSeconds = 86400, const QString &title = QStringLiteral("Title"))
{
    return RecentLink{id, kOrigin + QStringLiteral("/v/") + id, title, kNow.addSecs(-60),
                      kNow.addSecs(expiresInSeconds)};
}

class LinkLibraryTest : public ::testing::Test {
protected:
    void SetUp() override { qunsetenv("MIVRA_PREVIEW_LINKS"); }
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
    QStringList ids(const QList<RecentLink> &links) const
    {
        QStringList out;
        for (const auto &l : links)
            out << l.id;
        return out;
    }

    MemoryPreferenceStore prefs;
    FakeVideoService service;
    QStringList removedThumbs;
};

TEST_F(LinkLibraryTest, LoadPrunesExpiredLinksWithoutWritingBack)
{
    store({link(QStringLiteral("a")), link(QStringLiteral("gone"), -1), link(QStringLiteral("b"))});
    const int writesBefore = prefs.writes;
    auto library = make();
    EXPECT_EQ(ids(library->recent()), QStringList({"a", "b"}));
    EXPECT_EQ(prefs.writes, writesBefore);
}

TEST_F(LinkLibraryTest, UndecodableListLoadsEmptyAndKeepsStoredData)
{
    prefs.values.insert(QStringLiteral("recentLinks"), PrefValue(QByteArray("[{\"id\":\"a\"}]")));
    auto library = make();
    EXPECT_TRUE(library->recent().isEmpty());
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
    qputenv("MIVRA_PREVIEW_LINKS", "ab12:Demo one,,cd34,:::,::x,ef:a:b");
    auto library = make();
    EXPECT_TRUE(library->previewLinks());
    const auto &recent = library->recent();
    ASSERT_EQ(ids(recent), QStringList({"ab12", "cd34", "x", "ef"}));
    EXPECT_EQ(recent[0].title, QStringLiteral("Demo one"));
    EXPECT_EQ(recent[1].title, QStringLiteral("Recording"));
    EXPECT_EQ(recent[3].title, QStringLiteral("a:b"));
    EXPECT_EQ(recent[0].shareUrl, kOrigin + QStringLiteral("/v/ab12"));
    EXPECT_EQ(recent[0].expiresAt, kNow.addSecs(2548800));

    const int writesBefore = prefs.writes;
    library->addNew(link(QStringLiteral("new")));
    run(library->refreshFromServer());
    EXPECT_EQ(prefs.writes, writesBefore);
    EXPECT_TRUE(service.calls.isEmpty());
}

TEST_F(LinkLibraryTest, EmptyPreviewValueStillMeansPreviewMode)
{
    store({link(QStringLiteral("stored"))});
    qputenv("MIVRA_PREVIEW_LINKS", "");
    auto library = make();
    EXPECT_TRUE(library->previewLinks());
    EXPECT_TRUE(library->recent().isEmpty());
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
    const auto &recent = library->recent();
    ASSERT_EQ(ids(recent), QStringList({"a", "c"})); // order kept; unknown z not added
    EXPECT_EQ(recent[0].title, QStringLiteral("Server A"));
    EXPECT_EQ(recent[0].expiresAt, QDateTime::fromMSecsSinceEpoch(1800000500000, Qt::UTC));
    EXPECT_EQ(recent[1].title, QStringLiteral("Local C")); // empty service title keeps ours
    EXPECT_EQ(removedThumbs, QStringList({"b"}));
    EXPECT_EQ(stored(), recent);
}

TEST_F(LinkLibraryTest, RefreshWithEmptyListDropsEverythingAndFailureKeepsAll)
{
    store({link(QStringLiteral("a")), link(QStringLiteral("b"))});
    auto library = make();
    service.error = QStringLiteral("offline");
    run(library->refreshFromServer());
    EXPECT_EQ(ids(library->recent()), QStringList({"a", "b"}));

    service.error.reset();
    run(library->refreshFromServer());
    EXPECT_TRUE(library->recent().isEmpty());
    EXPECT_EQ(removedThumbs, QStringList({"a", "b"}));
}

TEST_F(LinkLibraryTest, RefreshKeepsLinksAddedWhileItWasAnswered)
{
    auto library = make();
    // The service's answer was made before the upload completed.
    service.beforeReply = [&] { library->addNew(link(QStringLiteral("n"))); };
    run(library->refreshFromServer());
    EXPECT_EQ(ids(library->recent()), QStringList({"n"}));
    EXPECT_TRUE(removedThumbs.isEmpty());

    // The next refresh knows it: gone from the service means gone here.
    service.beforeReply = nullptr;
    run(library->refreshFromServer());
    EXPECT_TRUE(library->recent().isEmpty());
    EXPECT_EQ(removedThumbs, QStringList({"n"}));
}

TEST_F(LinkLibraryTest, DeleteRemovesEveryEntryAndThumbnailOrReportsFailure)
{
    store({link(QStringLiteral("a")), link(QStringLiteral("b")), link(QStringLiteral("a"))});
    auto library = make();
    QSignalSpy failures(library.get(), &LinkLibrary::failed);

    service.error = QStringLiteral("Server returned 500: boom");
    run(library->deleteLink(link(QStringLiteral("a"))));
    ASSERT_EQ(failures.count(), 1);
    EXPECT_EQ(failures.at(0).at(0).toString(), QStringLiteral("Could not delete: Server returned 500: boom"));
    EXPECT_EQ(library->recent().size(), 3);

    service.error.reset();
    run(library->deleteLink(link(QStringLiteral("a"))));
    EXPECT_EQ(ids(library->recent()), QStringList({"b"}));
    EXPECT_EQ(removedThumbs, QStringList({"a"}));
    EXPECT_EQ(stored(), library->recent());
}

TEST_F(LinkLibraryTest, RenameTrimsSkipsNoOpsAndTakesTheServiceTitle)
{
    store({link(QStringLiteral("a"), 86400, QStringLiteral("Demo"))});
    auto library = make();
    QSignalSpy failures(library.get(), &LinkLibrary::failed);

    run(library->rename(library->recent().first(), QStringLiteral("  Demo \n")));
    run(library->rename(library->recent().first(), QStringLiteral(" \t\n")));
    EXPECT_TRUE(service.calls.isEmpty());

    service.renamedTitle = QStringLiteral("New (as stored)");
    run(library->rename(library->recent().first(), QStringLiteral("  New\n")));
    EXPECT_EQ(service.calls, QStringList({"rename a New"}));
    EXPECT_EQ(library->recent().first().title, QStringLiteral("New (as stored)"));
    EXPECT_EQ(stored().first().title, QStringLiteral("New (as stored)"));

    service.error = QStringLiteral("Unexpected response from server.");
    run(library->rename(library->recent().first(), QStringLiteral("Other")));
    ASSERT_EQ(failures.count(), 1);
    EXPECT_EQ(failures.at(0).at(0).toString(), QStringLiteral("Could not rename it: Unexpected response from server."));
    EXPECT_EQ(library->recent().first().title, QStringLiteral("New (as stored)"));
}

TEST_F(LinkLibraryTest, SetLifetimeStoresTheServiceExpiry)
{
    store({link(QStringLiteral("a"))});
    auto library = make();
    QSignalSpy failures(library.get(), &LinkLibrary::failed);
    service.expiresAtMs = 1810000000000;
    run(library->setLifetime(library->recent().first(), Lifetime::forever()));
    EXPECT_EQ(service.calls, QStringList({"expiry a forever"}));
    EXPECT_EQ(library->recent().first().expiresAt, QDateTime::fromMSecsSinceEpoch(1810000000000, Qt::UTC));
    EXPECT_EQ(stored(), library->recent());

    service.error = QStringLiteral("Server returned 400: bad lifetime");
    run(library->setLifetime(library->recent().first(), Lifetime::ofSeconds(7200)));
    ASSERT_EQ(failures.count(), 1);
    EXPECT_EQ(failures.at(0).at(0).toString(),
              QStringLiteral("Could not change how long it lasts: Server returned 400: bad lifetime"));
    EXPECT_EQ(library->recent().first().expiresAt, QDateTime::fromMSecsSinceEpoch(1810000000000, Qt::UTC));
}

} // namespace
