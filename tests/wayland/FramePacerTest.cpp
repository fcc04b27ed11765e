#include "platform/capture/FramePacer.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// Handled as the screen source does: a picture without a free slot waits
// for one, and is lost if the next picture comes first.
TEST(FramePacerTest, ThirtyASecondWithJitterAllGoOut)
{
    FramePacer pacer;
    std::mt19937 random(7);
    std::uniform_int_distribution<int> jitterUs(-4000, 4000);
    int64_t arrivalUs = 1000000;
    for (int i = 1; i <= 300; ++i) {
        const int64_t nextUs = 1000000 + i * 1000000 / 30 + jitterUs(random);
        if (!pacer.tryTake(arrivalUs)) {
            const int64_t dueUs = arrivalUs + pacer.waitUs();
            ASSERT_LE(dueUs, nextUs) << "picture " << i;
            ASSERT_TRUE(pacer.tryTake(dueUs)) << "picture " << i;
        }
        arrivalUs = nextUs;
    }
}

TEST(FramePacerTest, AStillScreenSavesUpNoMoreThanTheBurst)
{
    FramePacer pacer;
    EXPECT_TRUE(pacer.tryTake(1000000));
    // Ten quiet seconds later, only two pictures may follow at once.
    EXPECT_TRUE(pacer.tryTake(11000000));
    EXPECT_TRUE(pacer.tryTake(11000001));
    EXPECT_FALSE(pacer.tryTake(11000002));
    EXPECT_NEAR(double(pacer.waitUs()), 1e6 / 30, 100);
}

} // namespace
