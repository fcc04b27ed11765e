#pragma once

#include "capture/BubbleGeometry.h"
#include "platform/capture/CaptureTypes.h"

#include <cstdint>
#include <memory>
#include <vector>

// Planes of one I420 picture to write into.
struct I420View {
    uint8_t *y = nullptr;
    uint8_t *u = nullptr;
    uint8_t *v = nullptr;
    int yStride = 0;
    int uStride = 0;
    int vStride = 0;
};

// Draws the camera as a round bubble into screen pictures and hands them out
// as BT.709 I420. The screen is converted once as it is (stretched to the
// frame when its size differs); only the pixels of the bubble's square are
// then worked on: inside radius r - border the mirrored camera, in the rim the
// screen under half-transparent white, each edge soft over one pixel. Not
// thread-safe; one thread drives it.
class BubbleCompositor {
public:
    BubbleCompositor(PixelSize frame, BubbleSpot spot, const BubbleGeometry &geometry);

    // The latest camera picture (B,G,R,X): mirrored, scaled and cropped into
    // the bubble's square here, once, not at every picture written.
    void setCamera(const VideoFrame &camera);
    bool hasCamera() const { return m_hasCamera; }
    // Writes the screen picture with the bubble (once a camera picture came)
    // into `out`, which has the frame's size. `out` must still hold what the
    // previous call wrote (as an encoder's reused picture does): when the
    // screen picture is the same one, only the bubble's square is redone.
    void compose(const VideoFrame &screen, const I420View &out);

private:
    PixelSize m_frame;
    int m_diameter = 0;
    int m_left = 0; // the square's top-left pixel, rows counted from the top
    int m_top = 0;
    // Per pixel of the square, in 1/256: how much of the half-white rim and
    // how much of the camera covers it.
    std::vector<uint16_t> m_rim;
    std::vector<uint16_t> m_mask;
    // Per row of the square: the columns the rim touches, and those the
    // camera covers whole.
    struct Span {
        int first, end;
        int solidFirst, solidEnd;
    };
    std::vector<Span> m_spans;
    std::vector<uint8_t> m_camera; // B,G,R,X, diameter × diameter, mirrored
    std::vector<uint8_t> m_cameraScaled;
    std::vector<uint8_t> m_scaled; // the screen stretched to the frame
    std::vector<uint8_t> m_patch;  // the square widened to whole 2×2 chroma blocks
    bool m_hasCamera = false;
    // The screen picture last converted whole, held so that its buffer cannot
    // come back as another picture.
    std::shared_ptr<const uint8_t[]> m_lastScreen;
};
