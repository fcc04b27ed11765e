#pragma once

#include "platform/camera/CameraFrames.h"

#include <atomic>
#include <cstdint>
#include <thread>

// A camera for machines without one (MIVRA_CAMERA=test), with a fixed picture
// that tests can measure: 1280×720 at 30 pictures a second, the left half pure
// red, the right half pure green, and a white 80×80 square in rows 0-79 moving
// left to right, one full crossing every 2 seconds.
class SyntheticCamera final : public CameraFrames {
public:
    static constexpr int kWidth = 1280;
    static constexpr int kHeight = 720;
    static constexpr int kSquare = 80;
    static constexpr int kPicturesPerSecond = 30;
    static constexpr int64_t kCrossingUs = 2'000'000;

    ~SyntheticCamera() override;
    void start(Handler onPicture) override;
    void stop() override;

    // Left column of the white square `elapsedUs` after the camera started.
    static int squareLeft(int64_t elapsedUs);
    // The picture shown `elapsedUs` after the camera started, as B,G,R,X.
    static QVideoFrame picture(int64_t elapsedUs);

private:
    std::atomic<bool> m_running{false};
    std::thread m_thread;
};
