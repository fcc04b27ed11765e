#pragma once

// Whether the desktop blends translucent windows over what lies beneath them.
// X11 does only while a compositing manager runs; without one, transparent
// pixels show as black, so round windows cut themselves to shape instead.
// Wayland always blends.
bool desktopBlendsWindows();
