#pragma once

#include <cstdint>

// B,G,R,X pixels to limited-range BT.709 I420, the colour the file is tagged
// with. (libyuv's converters use the BT.601 matrix, which would tint every
// recording once a player applies the BT.709 tags.) Even width and height.
void bgrxToI420Bt709(const uint8_t *bgrx, int strideBytes, uint8_t *y, int yStride, uint8_t *u, int uStride, uint8_t *v,
                     int vStride, int width, int height);
