// The server when things go wrong underneath it (a full disk, a failing
// stat) or around it (requests racing for one video), and at the sizes it
// promises.
#include "ServerTestSupport.h"

#include "LocalStorage.h"
#include "SqliteMetadata.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sqlite3.h>
#include <thread>

using namespace servertest;
namespace fs = std::filesystem;

namespace {

// Local storage whose publishing or stat fails with a chosen errno while armed.
class FaultyStorage : public LocalStorage {
public:
    using LocalStorage::LocalStorage;
    int publishError = 0;
    int statError = 0;

    void publishParts(const std::string &id, const std::vector<PartRef> &parts, std::int64_t partSize,
                      std::uint64_t total) override
    {
        if (publishError)
            throw StorageError("publish: injected", publishError);
        LocalStorage::publishParts(id, parts, partSize, total);
    }
    bool hasMedia(const std::string &id) override
    {
        if (statError)
            throw StorageError("stat: injected", statError);
        return LocalStorage::hasMedia(id);
    }
};

// A Service on a real folder with the faulty storage, driven without HTTP.
struct ServiceRig {
    static constexpr std::int64_t kPartSize = 4096;
    TempDir dir;
    ManualClock clock{1'800'000'000'000};
    std::unique_ptr<FaultyStorage> ownStorage = std::make_unique<FaultyStorage>(dir.path());
    FaultyStorage *storage = ownStorage.get();
    std::unique_ptr<Service> service =
        std::make_unique<Service>(std::make_unique<SqliteMetadata>(dir.path() / "db.sqlite3"), std::move(ownStorage),
                                  clock, ServiceOptions{.partSize = kPartSize});
    const std::string owner = Service::ownerOf(newToken());
    std::string create()
    {
        return json::parse(service->create(owner, R"({"title":"t"})").body).value->find("id")->asString();
    }
    // Sends the bytes in parts; returns the complete body.
    std::string sendParts(const std::string &id, const std::string &bytes)
    {
        std::vector<std::string> replies;
        for (std::size_t off = 0, n = 1; off < bytes.size(); off += kPartSize, ++n) {
            const std::string part = bytes.substr(off, kPartSize);
            const Reply r = service->putPart(owner, id, std::to_string(n), part.size(),
                                             [&](const BodySink &sink) { return sink(part.data(), part.size()); });
            EXPECT_EQ(r.status, 200) << r.body;
            replies.push_back(r.body);
        }
        return Api::completeBody(replies);
    }
    std::string served(const std::string &id)
    {
        const auto media = service->openMedia(id);
        std::string out(media ? media->size() : 0, '\0');
        if (media)
            media->read(0, out.data(), out.size());
        return out;
    }
};

} // namespace

TEST(ServerRobustness, AThousandPartUploadCompletesAndPartsGoUpTo10000)
{
    InProcessServer server([](ServerConfig &c) { c.partSize = 1024; });
    const Api api = server.api(newToken());
    const std::string bytes = videoBytes(1000 * 1024 - 7);
    const std::string id = api.create();
    const std::string body = Api::completeBody(api.putParts(id, bytes, 1024));
    ASSERT_GT(body.size(), 64u * 1024) << "the complete body must pass the plain JSON limit";
    const Http r = api.post("/api/videos/" + id + "/complete", body);
    EXPECT_EQ(r.status, 200) << r.body;
    EXPECT_TRUE(api.publicGet("/r/" + id).body == bytes);
    // 10001: ServerSecurity.BadPartNumbers...
    EXPECT_EQ(api.put("/api/videos/" + api.create() + "/parts/10000", "last").status, 200);
}

TEST(ServerRobustness, ACompleteThatFailsIsUndoneAtOnceAndCanBeDoneAgain)
{
    for (const auto &[error, status] : std::vector<std::pair<int, int>>{{ENOSPC, 507}, {EIO, 500}}) {
        SCOPED_TRACE(status);
        ServiceRig rig;
        const std::string bytes = videoBytes(3 * ServiceRig::kPartSize + 5);
        const std::string id = rig.create();
        std::string complete = rig.sendParts(id, bytes);

        rig.storage->publishError = error;
        const Reply failed = rig.service->complete(rig.owner, id, complete);
        // Not left "completing": back to an upload with nothing stored.
        const std::optional<VideoRow> row = rig.service->metadata().findVideo(id);
        ASSERT_TRUE(row);
        EXPECT_EQ(std::tuple(failed.status, json::parse(failed.body).value->find("error") != nullptr, row->state,
                             rig.service->metadata().parts(id).size(), fs::exists(rig.dir.path() / "uploads" / id),
                             fs::exists(rig.dir.path() / "media" / (id + ".mp4"))),
                  std::tuple(status, true, VideoState::Uploading, 0u, false, false));

        rig.storage->publishError = 0;
        complete = rig.sendParts(id, bytes);
        EXPECT_EQ(rig.service->complete(rig.owner, id, complete).status, 200);
        EXPECT_TRUE(rig.served(id) == bytes);
    }
}

TEST(ServerRobustness, StartUpKeepsWhatItCannotCheckAndAlwaysFinishes)
{
    ServiceRig rig;
    const std::string bytes = videoBytes(2 * ServiceRig::kPartSize);
    const std::string ready = rig.create();
    ASSERT_EQ(rig.service->complete(rig.owner, ready, rig.sendParts(ready, bytes)).status, 200);
    // A complete accepted just before a crash.
    const std::string completing = rig.create();
    rig.sendParts(completing, bytes);
    VideoRow row = *rig.service->metadata().findVideo(completing);
    row.sizeBytes = std::int64_t(bytes.size());
    ASSERT_TRUE(rig.service->metadata().beginComplete(row, 2));

    // A stat that fails for another reason than "no such file" deletes
    // nothing, finishes nothing, and does not stop start-up.
    rig.storage->statError = EACCES;
    const RecoveryReport failing = rig.service->recover(false);
    EXPECT_EQ(std::pair(failing.rowsWithoutMediaRemoved, failing.completesFinished), std::pair(0, 0));
    EXPECT_TRUE(rig.served(ready) == bytes);

    // Once the disk is well, the next start finishes the complete.
    rig.storage->statError = 0;
    EXPECT_EQ(rig.service->recover(false).completesFinished, 1);
    EXPECT_TRUE(rig.served(completing) == bytes);
}

TEST(ServerRobustness, RacingRequestsLeaveOneConsistentOutcome)
{
    InProcessServer server;
    const Api api = server.api(newToken());
    // Sends request(0..n-1) at once; their replies in that order.
    auto race = [](int n, const std::function<Http(int)> &request) {
        std::vector<Http> replies(std::size_t(n), Http{});
        std::vector<std::thread> threads;
        for (int i = 0; i < n; ++i)
            threads.emplace_back([&, i] { replies[std::size_t(i)] = request(i); });
        for (std::thread &t : threads)
            t.join();
        return replies;
    };

    // The same part sent six times at once: whichever was recorded last is
    // the one whose bytes are stored.
    const std::string id = api.create();
    std::vector<std::string> versions;
    for (int i = 0; i < 6; ++i)
        versions.push_back(videoBytes(std::size_t(kServerPartSize)));
    const auto parts =
        race(6, [&](int i) { return api.put("/api/videos/" + id + "/parts/1", versions[std::size_t(i)]); });
    int completed = 0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        ASSERT_EQ(parts[i].status, 200);
        if (api.post("/api/videos/" + id + "/complete", Api::completeBody({parts[i].body})).status == 200) {
            ++completed;
            EXPECT_TRUE(api.publicGet("/r/" + id).body == versions[i]);
        }
    }
    EXPECT_EQ(completed, 1);

    // Two completes at once: both answer the video's record.
    const std::string bytes = videoBytes(std::size_t(kServerPartSize) * 2 + 9);
    const std::string twice = api.create();
    const std::string body = Api::completeBody(api.putParts(twice, bytes, kServerPartSize));
    for (const Http &r : race(2, [&](int) { return api.post("/api/videos/" + twice + "/complete", body); }))
        EXPECT_EQ(std::pair(r.status, r.id()), std::pair(200, twice)) << r.body;
    EXPECT_TRUE(api.publicGet("/r/" + twice).body == bytes);

    // A delete racing a complete: whichever wins, nothing is left half-done.
    for (int round = 0; round < 8; ++round) {
        const std::string doomed = api.create();
        const std::string c = Api::completeBody(api.putParts(doomed, bytes, kServerPartSize));
        const auto r = race(2, [&](int i) {
            return i == 0 ? api.post("/api/videos/" + doomed + "/complete", c) : api.del("/api/videos/" + doomed);
        });
        EXPECT_TRUE(r[0].status == 200 || r[0].status == 404) << r[0].status;
        EXPECT_EQ(std::tuple(r[1].status, api.publicGet("/r/" + doomed).status,
                             fs::exists(server.dataDir() / "media" / (doomed + ".mp4")),
                             fs::exists(server.dataDir() / "uploads" / doomed)),
                  std::tuple(204, 404, false, false));
    }
}

TEST(ServerRobustness, DataIsTheOwnersAloneAndANewerDatabaseIsRefused)
{
    TempDir dir;
    const fs::path data = dir.path() / "data";
    {
        InProcessServer server({}, data);
        const Api api = server.api(newToken());
        api.uploadMultipart(videoBytes(100 * 1024), 64 * 1024);
        api.putParts(api.create(), videoBytes(100), 64 * 1024);
        for (const auto &entry : fs::recursive_directory_iterator(data))
            EXPECT_EQ(entry.status().permissions() & (fs::perms::group_all | fs::perms::others_all), fs::perms::none)
                << entry.path() << " is open to others";
    }
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open((data / "mivra.sqlite3").c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "PRAGMA user_version=99", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    EXPECT_THAT([&] { InProcessServer server({}, data); },
                testing::ThrowsMessage<std::exception>(testing::HasSubstr("newer mivra-server")));
}
