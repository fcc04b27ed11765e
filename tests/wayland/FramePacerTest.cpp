#include "platform/capture/FramePacer.h"

#include <gtest/gtest.h>

#include <random>

namespace {

struct Outcome {
    int delivered = 0;
    int replaced = 0;
};

// Pictures arriving at the given times, handled as the screen source does: a
// picture without a free slot waits for one and is replaced if a newer one
// comes first.
Outcome run(const std::vector<int64_t> &arrivalsUs)
{
    FramePacer pacer;
    Outcome outcome;
    int64_t pendingDueUs = -1; // none waiting
    auto deliver = [&](int64_t) { ++outcome.delivered; };
    for (int64_t arrivalUs : arrivalsUs) {
        if (pendingDueUs >= 0 && pendingDueUs <= arrivalUs) {
            if (pacer.tryTake(pendingDueUs))
                deliver(pendingDueUs);
            pendingDueUs = -1;
        }
        if (pendingDueUs >= 0)
            ++outcome.replaced;
        if (pacer.tryTake(arrivalUs)) {
            pendingDueUs = -1;
            deliver(arrivalUs);
        } else {
            pendingDueUs = arrivalUs + pacer.waitUs();
        }
    }
    return outcome;
}

TEST(FramePacerTest, ThirtyASecondWithJitterAllGoOut)
{
    std::mt19937 random(7);
    std::uniform_int_distribution<int> jitterUs(-4000, 4000);
    std::vector<int64_t> arrivals;
    for (int i = 0; i < 300; ++i)
        arrivals.push_back(1000000 + i * 1000000 / 30 + jitterUs(random));
    const Outcome outcome = run(arrivals);
    EXPECT_EQ(outcome.replaced, 0);
    EXPECT_EQ(outcome.delivered, 300);
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
