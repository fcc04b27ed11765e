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
    const struct {
        uint8_t b, g, r;
        Yuv yuv;
    } cases[] = {{255, 255, 255, {235, 128, 128}},
                 {0, 0, 0, {16, 128, 128}},
                 {0, 0, 255, {63, 102, 240}},
                 {255, 0, 0, {32, 240, 118}}};
    for (const auto &c : cases) {
        const Yuv yuv = convertSolid(c.b, c.g, c.r);
        EXPECT_NEAR(yuv.y, c.yuv.y, 1) << int(c.r) << "," << int(c.g) << "," << int(c.b);
        EXPECT_NEAR(yuv.u, c.yuv.u, 1) << int(c.r) << "," << int(c.g) << "," << int(c.b);
        EXPECT_NEAR(yuv.v, c.yuv.v, 1) << int(c.r) << "," << int(c.g) << "," << int(c.b);
    }
}
