#include "capture/BubbleCompositor.h"

#include "capture/ColorConvert.h"

#include <libyuv/planar_functions.h>
#include <libyuv/scale_argb.h>

#include <algorithm>
#include <cmath>
#include <cstring>

BubbleCompositor::BubbleCompositor(PixelSize frame, BubbleSpot spot, const BubbleGeometry &geometry)
    : m_frame(frame), m_diameter(geometry.diameter)
{
    const BubblePoint origin = bubbleOrigin(spot, frame, geometry);
    m_left = origin.x;
    m_top = frame.height - origin.y - m_diameter;
    const int d = m_diameter;
    const double r = d / 2.0;
    m_rim.resize(std::size_t(d) * d);
    m_mask.resize(std::size_t(d) * d);
    for (int row = 0; row < d; ++row) {
        for (int col = 0; col < d; ++col) {
            const double distance = std::hypot(col + 0.5 - r, row + 0.5 - r);
            const std::size_t i = std::size_t(row) * d + col;
            m_rim[i] = uint16_t(std::lround(128.0 * discCoverage(distance, r)));
            m_mask[i] = uint16_t(std::lround(256.0 * discCoverage(distance, r - geometry.border)));
        }
        // The disc is convex: each row touches one run of columns, and the
        // camera covers all of one run inside it.
        Span span{d, 0, d, 0};
        for (int col = 0; col < d; ++col) {
            const std::size_t i = std::size_t(row) * d + col;
            if (m_rim[i] > 0) {
                span.first = std::min(span.first, col);
                span.end = col + 1;
            }
            if (m_mask[i] == 256) {
                span.solidFirst = std::min(span.solidFirst, col);
                span.solidEnd = col + 1;
            }
        }
        m_spans.push_back(span);
    }
    m_camera.resize(std::size_t(d) * d * 4);
    m_cameraScaled.resize(m_camera.size());
}

void BubbleCompositor::setCamera(const VideoFrame &camera)
{
    const CameraCrop crop = cameraCrop(camera.width, camera.height, m_diameter);
    if (crop.side <= 0 || !camera.pixels)
        return;
    const int d = m_diameter;
    const uint8_t *square = camera.pixels.get() + std::ptrdiff_t(crop.y) * camera.strideBytes + crop.x * 4;
    libyuv::ARGBScale(square, camera.strideBytes, crop.side, crop.side, m_cameraScaled.data(), d * 4, d, d,
                      libyuv::kFilterBilinear);
    libyuv::ARGBMirror(m_cameraScaled.data(), d * 4, m_camera.data(), d * 4, d, d);
    m_hasCamera = true;
}

void BubbleCompositor::compose(const VideoFrame &screen, const I420View &out)
{
    const int width = m_frame.width;
    const int height = m_frame.height;
    const uint8_t *base = screen.pixels.get();
    int baseStride = screen.strideBytes;
    // A camera picture on a still screen: the rest of the frame is as before.
    const bool sameScreen = screen.pixels == m_lastScreen;
    const bool scaled = screen.width != width || screen.height != height;
    if (scaled) {
        m_scaled.resize(std::size_t(width) * height * 4);
        if (!sameScreen)
            libyuv::ARGBScale(base, baseStride, screen.width, screen.height, m_scaled.data(), width * 4, width, height,
                              libyuv::kFilterBox);
        base = m_scaled.data();
        baseStride = width * 4;
    }
    if (!sameScreen)
        bgrxToI420Bt709(base, baseStride, out.y, out.yStride, out.u, out.uStride, out.v, out.vStride, width, height);
    m_lastScreen = screen.pixels;
    if (!m_hasCamera)
        return;

    // The square, widened to even bounds so that its chroma is recomputed from
    // whole 2×2 blocks; pixels outside the circle are copied unchanged.
    const int d = m_diameter;
    const int x0 = std::max(0, m_left & ~1);
    const int y0 = std::max(0, m_top & ~1);
    const int x1 = std::min(width, (m_left + d + 1) & ~1);
    const int y1 = std::min(height, (m_top + d + 1) & ~1);
    if (x1 <= x0 || y1 <= y0)
        return;
    const int patchWidth = x1 - x0;
    const int patchHeight = y1 - y0;
    m_patch.resize(std::size_t(patchWidth) * patchHeight * 4);
    for (int row = 0; row < patchHeight; ++row)
        std::memcpy(m_patch.data() + std::size_t(row) * patchWidth * 4,
                    base + std::ptrdiff_t(y0 + row) * baseStride + x0 * 4, std::size_t(patchWidth) * 4);

    for (int row = 0; row < d; ++row) {
        const int py = m_top + row - y0;
        if (py < 0 || py >= patchHeight)
            continue;
        uint8_t *line = m_patch.data() + std::size_t(py) * patchWidth * 4;
        const uint8_t *cam = m_camera.data() + std::size_t(row) * d * 4;
        const uint16_t *rim = m_rim.data() + std::size_t(row) * d;
        const uint16_t *mask = m_mask.data() + std::size_t(row) * d;
        const Span span = m_spans[std::size_t(row)];
        const int colMin = std::max(span.first, x0 - m_left);
        const int colEnd = std::min(span.end, x0 - m_left + patchWidth);
        for (int col = colMin; col < colEnd; ++col) {
            uint8_t *pixel = line + (m_left + col - x0) * 4;
            if (col >= span.solidFirst && col < span.solidEnd) {
                // Where the camera covers all, its run is copied as it is.
                const int run = std::min(span.solidEnd, colEnd) - col;
                std::memcpy(pixel, cam + col * 4, std::size_t(run) * 4);
                col += run - 1;
                continue;
            }
            for (int c = 0; c < 3; ++c) {
                const int rimmed = pixel[c] + (((255 - pixel[c]) * rim[col] + 128) >> 8);
                pixel[c] = uint8_t((cam[col * 4 + c] * mask[col] + rimmed * (256 - mask[col]) + 128) >> 8);
            }
        }
    }
    bgrxToI420Bt709(m_patch.data(), patchWidth * 4, out.y + std::ptrdiff_t(y0) * out.yStride + x0, out.yStride,
                    out.u + std::ptrdiff_t(y0 / 2) * out.uStride + x0 / 2, out.uStride,
                    out.v + std::ptrdiff_t(y0 / 2) * out.vStride + x0 / 2, out.vStride, patchWidth, patchHeight);
}
