#include "capture/ColorConvert.h"

// Plain loops the compiler vectorises; -O3 here keeps the conversion at a few
// milliseconds for a 2560-pixel-wide frame even in RelWithDebInfo builds.
#pragma GCC optimize("O3")

namespace {
// BT.709 limited range in 1/65536 steps.
constexpr int32_t kYr = 11966, kYg = 40254, kYb = 4064;   // 0.1826 0.6142 0.0620
constexpr int32_t kUr = -6596, kUg = -22189, kUb = 28785; // -0.1006 -0.3386 0.4392
constexpr int32_t kVr = 28785, kVg = -26145, kVb = -2640; // 0.4392 -0.3989 -0.0403
constexpr int32_t kHalf = 1 << 15;

inline uint8_t lumaOf(int32_t b, int32_t g, int32_t r)
{
    return uint8_t((kYr * r + kYg * g + kYb * b + (16 << 16) + kHalf) >> 16);
}

void lumaRow(const uint8_t *src, uint8_t *y, int width)
{
    for (int x = 0; x < width; ++x)
        y[x] = lumaOf(src[4 * x], src[4 * x + 1], src[4 * x + 2]);
}
} // namespace

void bgrxToI420Bt709(const uint8_t *bgrx, int strideBytes, uint8_t *y, int yStride, uint8_t *u, int uStride, uint8_t *v,
                     int vStride, int width, int height)
{
    for (int row = 0; row + 1 < height; row += 2) {
        const uint8_t *top = bgrx + std::ptrdiff_t(row) * strideBytes;
        const uint8_t *bottom = top + strideBytes;
        lumaRow(top, y + std::ptrdiff_t(row) * yStride, width);
        lumaRow(bottom, y + std::ptrdiff_t(row + 1) * yStride, width);
        uint8_t *uRow = u + std::ptrdiff_t(row / 2) * uStride;
        uint8_t *vRow = v + std::ptrdiff_t(row / 2) * vStride;
        for (int cx = 0; cx < width / 2; ++cx) {
            const int i = 8 * cx;
            // Sums of four pixels: the coefficients take the quarter.
            const int32_t b = top[i] + top[i + 4] + bottom[i] + bottom[i + 4];
            const int32_t g = top[i + 1] + top[i + 5] + bottom[i + 1] + bottom[i + 5];
            const int32_t r = top[i + 2] + top[i + 6] + bottom[i + 2] + bottom[i + 6];
            uRow[cx] = uint8_t((kUr * r + kUg * g + kUb * b + (128 << 18) + (1 << 17)) >> 18);
            vRow[cx] = uint8_t((kVr * r + kVg * g + kVb * b + (128 << 18) + (1 << 17)) >> 18);
        }
    }
}
