#pragma once

#include "X11TestScene.h"

#include <thread>

// Keeps a window on the test X server changing colour about 60 times a
// second, as a screen with something moving on it would, until destroyed.
class ChangingScreen {
public:
    explicit ChangingScreen(const QRect &area)
        : m_thread([area](std::stop_token stop) {
              X11TestScene scene; // its own connection: xcb is used from one thread
              const uint32_t window = scene.addWindow(area, 0);
              for (uint32_t step = 0; !stop.stop_requested(); ++step) {
                  scene.fill(window, QRect(0, 0, area.width(), area.height()), (step * 0x030507u) & 0xffffffu);
                  std::this_thread::sleep_for(std::chrono::milliseconds(16));
              }
          })
    {
    }

private:
    std::jthread m_thread; // asked to stop and joined when destroyed
};
