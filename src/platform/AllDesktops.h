#pragma once

class QWindow;

// Keeps `window` on every virtual desktop, also after it is hidden and shown
// again (window managers drop the desktop and state hints of a withdrawn
// window). On X11: _NET_WM_DESKTOP 0xFFFFFFFF and _NET_WM_STATE_STICKY, as
// properties before the window is mapped and as requests to the window
// manager once it is. Does nothing on other platforms. Main thread.
void showOnAllDesktops(QWindow *window);
