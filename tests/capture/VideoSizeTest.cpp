#include "capture/VideoSize.h"

#include <gtest/gtest.h>

TEST(VideoSize, IsAlwaysEvenAndAtMost2560OnTheLongerSide)
{
    for (double w : {333.0, 799.5, 1366.0, 1440.0, 2561.0, 3001.0, 5120.0})
        for (double h : {201.0, 767.0, 900.0, 1599.0, 2880.0})
            for (double scale : {1.0, 1.25, 1.5, 2.0}) {
                const PixelSize size = videoSizeFor(w, h, scale);
                EXPECT_EQ(size.width % 2, 0);
                EXPECT_EQ(size.height % 2, 0);
                EXPECT_LE(std::max(size.width, size.height), 2560);
                EXPECT_GT(size.width, 0);
            }
    EXPECT_EQ(videoSizeFor(1080, 1920, 2.0), (PixelSize{1440, 2560})); // portrait caps the height
    EXPECT_EQ(videoSizeFor(1365, 767, 1.0), (PixelSize{1364, 766}));   // odd sizes round down
}

TEST(DisplayChoice, TakesTheWantedDisplayElseTheFirst)
{
    const QList<DisplayInfo> displays = {DisplayInfo{3, "a", {}, 10, 10}, DisplayInfo{5, "b", {}, 20, 20}};
    EXPECT_EQ(chooseDisplay(displays, 5u)->id, 5u);
    EXPECT_EQ(chooseDisplay(displays, 4u)->id, 3u);
    EXPECT_EQ(chooseDisplay(displays, std::nullopt)->id, 3u);
    EXPECT_FALSE(chooseDisplay({}, 5u));
}
