#pragma once

#include "app/Phase.h"
#include "capture/BubbleSpot.h"

#include <QString>

#include <optional>

// The shared state's values in the shapes the views show them, so the bar and
// the main window read them alike.

// The title the user sees for a bubble spot, e.g. "Bottom left".
QString bubbleSpotTitle(BubbleSpot spot);

// Sent over total while uploading; none while the total is not known yet.
std::optional<double> uploadFraction(const Phase &phase);
