#include "support/AppStateRig.h"
#include "support/QtPrinters.h"

#include "app/ExpiryText.h"
#include "app/LeftBehindRecordings.h"
#include "app/LifetimeMenu.h"
#include "app/RenameFlow.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

const QDateTime kNow(QDate(2026, 12, 5), QTime(8, 55), Qt::UTC);

TEST(ExpiryText, ReadsTheTimeLeft)
{
    const struct {
        qint64 secondsLeft;
        const char *text;
    } cases[] = {
        {30, "Expires in 1 minute"},
        {90, "Expires in 1 minute"},
        {150, "Expires in 2 minutes"},
        {3600, "Expires in 1 hour"},
        {47 * 3600 + 59 * 60, "Expires in 47 hours"},
        {48 * 3600, "Expires in 2 days"},
        {71 * 3600, "Expires in 2 days"},
        {0, "Expired"},
        {-5000, "Expired"},
        {3153600000, "Expires in 36500 days"},
        {3153600001, "Kept forever"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ExpiryText::text(kNow.addSecs(c.secondsLeft), kNow), QString::fromUtf8(c.text)) << c.secondsLeft;
}

// The menu in one line: entries as text=lifetime, the checked one in
// brackets, "--" for the separator.
QString render(const QList<LifetimeMenuItem> &items)
{
    QStringList entries;
    for (const LifetimeMenuItem &item : items) {
        const QString entry = item.kind == LifetimeMenuItem::Kind::separator ? QStringLiteral("--")
                              : item.lifetime ? item.text + "=" + item.lifetime->secondsText()
                                              : item.text;
        entries << (item.checked ? "[" + entry + "]" : entry);
    }
    return entries.join(' ');
}

TEST(LifetimeMenu, ChecksTheCurrentValueAndListsEveryPreset)
{
    const QString all =
        "1 hour=3600 1 day=86400 2 days=172800 1 week=604800 30 days=2592000 Forever=forever -- Custom…";
    const auto menu = [](std::optional<Lifetime> current) {
        return render(LifetimeMenu::choices(current, QStringLiteral("Custom…")));
    };
    EXPECT_EQ(menu(Lifetime::ofSeconds(86400)), QString(all).replace("1 day=86400", "[1 day=86400]"));
    // The current value, not a preset, first; it does nothing.
    EXPECT_EQ(menu(Lifetime::ofSeconds(302400)), "[3 days 12 hours] " + all);
    EXPECT_EQ(menu(Lifetime::forever()), QString(all).replace("Forever=forever", "[Forever=forever]"));
    EXPECT_EQ(menu(std::nullopt), all);
    EXPECT_EQ(LifetimeMenu::choices(std::nullopt, {}).back().kind, LifetimeMenuItem::Kind::custom);
}

TEST(LifetimeMenu, ALinkKeptForeverHasForeverChecked)
{
    EXPECT_EQ(LifetimeMenu::currentForLink(kNow.addSecs(3153600001), kNow), Lifetime::forever());
    EXPECT_EQ(LifetimeMenu::currentForLink(kNow.addSecs(86400), kNow), std::nullopt);
    EXPECT_EQ(LifetimeMenu::currentForLink(kNow.addSecs(-1), kNow), std::nullopt);
}

TEST(RenameFlow, ReturnAndFocusLossFinishEscapeCancels)
{
    RenameFlow flow;
    QStringList asked;
    QObject::connect(&flow, &RenameFlow::renameRequested,
                     [&](const QString &id, const QString &title) { asked << id + "=" + title; });

    flow.start(QStringLiteral("a"), QStringLiteral("Old"));
    EXPECT_EQ(flow.titleDraft(), QStringLiteral("Old"));
    EXPECT_FALSE(flow.titleFocused()) << "the field takes focus on the next turn, once it exists";
    ASSERT_TRUE(waitUntil([&] { return flow.titleFocused(); }));
    flow.focusLost(QStringLiteral("b")); // another row's field
    flow.setTitleDraft(QStringLiteral("New"));
    EXPECT_EQ(flow.renaming(), QStringLiteral("a"));
    flow.finish();                       // Return
    flow.focusLost(QStringLiteral("a")); // the field goes away after finishing

    flow.start(QStringLiteral("b"), QStringLiteral("B"));
    flow.setTitleDraft(QStringLiteral("Typed"));
    flow.cancel(); // Escape
    EXPECT_TRUE(flow.renaming().isEmpty());

    flow.start(QStringLiteral("c"), QStringLiteral("C"));
    flow.focusLost(QStringLiteral("c"));
    EXPECT_TRUE(flow.renaming().isEmpty());
    EXPECT_EQ(asked, QStringList({"a=New", "c=C"}));
}

TEST(LeftBehindRecordings, ListsOnlyOurFinishedMp4s)
{
    QTemporaryDir dir;
    writeRecording(dir.filePath("Mivra 2026-12-05 08.00.00.mp4"), 3600);         // an upload that failed
    writeRecording(dir.filePath("Mivra 2026-12-05 09.00.00.mp4"), 60);           // cut short
    writeRecording(dir.filePath("Mivra 2026-12-05 10.00.00.mp4"), 1);            // still being written elsewhere
    writeRecording(dir.filePath("Mivra 2026-12-05 11.00.00.mp4"), 3600);         // being recorded here
    writeRecording(dir.filePath("Holiday.mp4"), 3600);                           // not ours
    writeRecording(dir.filePath("Mivra 2026-12-05 12.00.00.mp4"), 3600, "text"); // not an MP4
    writeRecording(dir.filePath("Mivra 2026-12-05 13.00.00.mp4.part"), 3600);
    QDir(dir.path()).mkdir("Mivra 2026-12-05 14.00.00.mp4");

    const auto probe = [](const QString &) { return std::optional<qint64>(65432); };
    const auto found = LeftBehindRecordings::list(dir.path(), dir.filePath("Mivra 2026-12-05 11.00.00.mp4"),
                                                  QDateTime::currentDateTime(), probe);
    QStringList rows;
    for (const auto &recording : found)
        rows << QStringLiteral("%1 %2 B %3")
                    .arg(recording.name)
                    .arg(recording.sizeBytes)
                    .arg(recording.durationMs.value_or(-1));
    EXPECT_EQ(rows, (QStringList{"Mivra 2026-12-05 09.00.00 512 B 65432", "Mivra 2026-12-05 08.00.00 512 B 65432"}));
    EXPECT_TRUE(LeftBehindRecordings::list(dir.filePath("missing"), {}, kNow, {}).isEmpty());
}

TEST(LeftBehindRecordings, Texts)
{
    EXPECT_EQ(LeftBehindRecordings::lengthText(std::nullopt), QString());
    EXPECT_EQ(LeftBehindRecordings::lengthText(3725999), QStringLiteral("62:05"));
    EXPECT_EQ(LeftBehindRecordings::sizeText(850000), QStringLiteral("850 KB"));
    EXPECT_EQ(LeftBehindRecordings::sizeText(12300000), QStringLiteral("12.3 MB"));
}

TEST(LeftBehindRecordings, AFailedUploadIsListedAndCanGoUpOrToTheTrashLater)
{
    AppStateRig rig;
    AppState &state = rig.make();
    run(state.startRecording());
    writeRecording(rig.recorder->lastOutputPath, 0); // what the real recorder leaves
    rig.uploader->uploadStep.failure = QStringLiteral("The service could not be reached.");
    run(state.stopRecording());
    ASSERT_EQ(state.leftBehind().size(), 1) << "listed at once, though just written";
    EXPECT_EQ(state.leftBehind().front().path, rig.recorder->lastOutputPath);

    // Only a listed file goes up.
    run(state.uploadLeftBehind(QStringLiteral("/etc/passwd")));
    rig.uploader->uploadStep.failure.reset();
    run(state.uploadLeftBehind(rig.recorder->lastOutputPath));
    EXPECT_TRUE(rig.uploader->lastUpload.startsWith(rig.recorder->lastOutputPath + " "));
    EXPECT_EQ(rig.outcome(), "idle error=\"\" links=1 uploads=2 file=gone clock=off");
    EXPECT_TRUE(state.leftBehind().isEmpty());

    // Where no Trash can be made the file stays and the user is told; else it is in the Trash.
    const QString trash = qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Trash");
    const QString other = rig.recordingsFolder() + QStringLiteral("/Mivra 2026-12-05 08.00.00.mp4");
    writeRecording(other, 60);
    state.refreshLeftBehind();
    QDir().mkpath(QFileInfo(trash).path());
    QFile(trash).open(QIODevice::WriteOnly); // a file where the Trash should be
    state.trashLeftBehind(other);
    EXPECT_EQ(std::pair(QFile::exists(other), state.leftBehind().size()), std::pair(true, qsizetype(1)));
    EXPECT_EQ(state.lastError(), QStringLiteral("Could not move %1 to the trash.").arg(other));
    QFile::remove(trash);
    state.trashLeftBehind(other);
    EXPECT_TRUE(QFile::exists(trash + QStringLiteral("/files/Mivra 2026-12-05 08.00.00.mp4")));
    EXPECT_TRUE(state.leftBehind().isEmpty());
}

} // namespace
