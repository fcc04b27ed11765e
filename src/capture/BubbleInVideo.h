#pragma once

#include "capture/BubbleSpot.h"

#include <optional>

// Where the video draws the camera bubble, or nothing when the bubble window
// is recorded where it sits on screen. A corner needs captures that leave our
// windows out (X11 here); where they cannot (the Wayland portal), the window
// would be in the picture too and the bubble would show twice, so it is
// recorded as it sits on screen whatever corner was chosen.
inline std::optional<BubbleSpot> bubbleDrawnInVideo(bool camera, BubbleSpot chosen, bool capturesLeaveOurWindowsOut)
{
    if (!camera || chosen == BubbleSpot::asOnScreen || !capturesLeaveOurWindowsOut)
        return std::nullopt;
    return chosen;
}
