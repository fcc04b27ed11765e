// The recorder lists displays on a worker thread; Qt's screens may only be
// read on the main thread, so the scales come from prepare().
#include "platform/capture/LinuxCapturePlatform.h"

#include "Await.h"

#include <QDebug>
#include <gtest/gtest.h>

#include <thread>

namespace {

QStringList described(const QList<DisplayInfo> &displays)
{
    QStringList lines;
    for (const DisplayInfo &d : displays)
        QDebug(&lines.emplace_back()) << d.id << d.name << d.pixelRect << d.widthPoints << d.heightPoints;
    return lines;
}

TEST(DisplayListThread, WorkerThreadListingMatchesTheMainThreadOne)
{
    LinuxCapturePlatform platform;
    const QList<DisplayInfo> onMain = platform.displays();
    ASSERT_FALSE(onMain.isEmpty());
    run(platform.prepare());
    QList<DisplayInfo> onWorker;
    std::thread worker([&] { onWorker = platform.displays(); });
    worker.join();
    EXPECT_EQ(described(onWorker), described(onMain));
}

} // namespace
