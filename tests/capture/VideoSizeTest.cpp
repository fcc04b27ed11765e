#include "capture/VideoSize.h"

#include <gtest/gtest.h>

TEST(VideoSize, IsAlwaysEvenAndAtMost2560OnTheLongerSide)
{
    for (double w : {333.0, 799.5, 1366.0, 1440.0, 2561.0, 3001.0, 5120.0})
        for (double h : {201.0, 767.0, 900.0, 1599.0, 2880.0})
            for (double scale : {1.0, 1.25, 1.5, 2.0}) {
                const PixelSize s = videoSizeFor(w, h, scale);
                EXPECT_TRUE(s.width % 2 == 0 && s.height % 2 == 0 && s.width > 0 && std::max(s.width, s.height) <= 2560)
                    << w << "x" << h << " at " << scale << ": " << s.width << "x" << s.height;
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
