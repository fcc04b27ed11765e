#include "capture/ColorConvert.h"

#include <gtest/gtest.h>

#include <array>

namespace {
struct Yuv {
    int y, u, v;
};

Yuv convertSolid(uint8_t b, uint8_t g, uint8_t r)
{
    std::array<uint8_t, 4 * 4 * 2> bgrx{};
    for (int i = 0; i < 8; ++i) {
        bgrx[4 * i] = b;
        bgrx[4 * i + 1] = g;
        bgrx[4 * i + 2] = r;
        bgrx[4 * i + 3] = 0xff; // never read as alpha
    }
    std::array<uint8_t, 8> y{};
    std::array<uint8_t, 2> u{}, v{};
    bgrxToI420Bt709(bgrx.data(), 16, y.data(), 4, u.data(), 2, v.data(), 2, 4, 2);
    return Yuv{y[0], u[0], v[0]};
}
} // namespace

// Reference values of limited-range BT.709 (not BT.601: red would be Y 81).
TEST(ColorConvert, UsesTheBt709Matrix)
{
    const Yuv white = convertSolid(255, 255, 255);
    EXPECT_EQ(white.y, 235);
    EXPECT_EQ(white.u, 128);
    EXPECT_EQ(white.v, 128);
    const Yuv black = convertSolid(0, 0, 0);
    EXPECT_EQ(black.y, 16);
    const Yuv red = convertSolid(0, 0, 255);
    EXPECT_NEAR(red.y, 63, 1);
    EXPECT_NEAR(red.u, 102, 1);
    EXPECT_NEAR(red.v, 240, 1);
    const Yuv blue = convertSolid(255, 0, 0);
    EXPECT_NEAR(blue.y, 32, 1);
    EXPECT_NEAR(blue.u, 240, 1);
    EXPECT_NEAR(blue.v, 118, 1);
}
