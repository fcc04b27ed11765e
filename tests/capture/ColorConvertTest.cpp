#include "capture/ColorConvert.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>

// Reference values of limited-range BT.709 (not BT.601: red would be Y 81).
TEST(ColorConvert, UsesTheBt709Matrix)
{
    const struct {
        uint8_t b, g, r;
        int y, u, v;
    } cases[] = {
        {255, 255, 255, 235, 128, 128}, {0, 0, 0, 16, 128, 128}, {0, 0, 255, 63, 102, 240}, {255, 0, 0, 32, 240, 118}};
    for (const auto &c : cases) {
        // A solid 4x2 picture; the X byte is never read as alpha.
        std::array<uint8_t, 4 * 4 * 2> bgrx{};
        const uint8_t pixel[4] = {c.b, c.g, c.r, 0xff};
        for (int i = 0; i < 8; ++i)
            std::memcpy(&bgrx[4 * i], pixel, 4);
        std::array<uint8_t, 8> y{};
        std::array<uint8_t, 2> u{}, v{};
        bgrxToI420Bt709(bgrx.data(), 16, y.data(), 4, u.data(), 2, v.data(), 2, 4, 2);
        SCOPED_TRACE(testing::Message() << int(c.r) << "," << int(c.g) << "," << int(c.b));
        EXPECT_LE(std::max({std::abs(y[0] - c.y), std::abs(u[0] - c.u), std::abs(v[0] - c.v)}), 1)
            << int(y[0]) << " " << int(u[0]) << " " << int(v[0]);
    }
}
