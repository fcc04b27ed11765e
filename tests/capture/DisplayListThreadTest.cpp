// The recorder lists displays on a worker thread; Qt's screens may only be
// read on the main thread, so the scales come from prepare().
#include "platform/capture/LinuxCapturePlatform.h"

#include "Await.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

QStringList described(const QList<DisplayInfo> &displays)
{
    QStringList lines;
    for (const DisplayInfo &d : displays)
        lines << QStringLiteral("%1 %2 %3,%4 %5x%6 %7x%8")
                     .arg(d.id)
                     .arg(d.name)
                     .arg(d.pixelRect.x())
                     .arg(d.pixelRect.y())
                     .arg(d.pixelRect.width())
                     .arg(d.pixelRect.height())
                     .arg(d.widthPoints)
                     .arg(d.heightPoints);
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
