#include "platform/camera/SyntheticCamera.h"

#include <QVideoFrameFormat>

#include <chrono>
#include <cstring>

std::unique_ptr<CameraFrames> makeCameraFrames()
{
    if (qEnvironmentVariable("MIVRA_CAMERA") == QLatin1String("test"))
        return std::make_unique<SyntheticCamera>();
    return nullptr;
}

SyntheticCamera::~SyntheticCamera()
{
    stop();
}

int SyntheticCamera::squareLeft(int64_t elapsedUs)
{
    const int64_t phase = elapsedUs % kCrossingUs;
    return int(phase * (kWidth - kSquare) / kCrossingUs);
}

QVideoFrame SyntheticCamera::picture(int64_t elapsedUs)
{
    QVideoFrame frame(QVideoFrameFormat(QSize(kWidth, kHeight), QVideoFrameFormat::Format_BGRX8888));
    if (!frame.map(QVideoFrame::WriteOnly))
        return {};
    uchar *bits = frame.bits(0);
    const int stride = frame.bytesPerLine(0);
    const int left = squareLeft(elapsedUs);
    for (int row = 0; row < kHeight; ++row) {
        auto *pixel = reinterpret_cast<uint32_t *>(bits + std::ptrdiff_t(row) * stride);
        // B,G,R,X in memory: red 0x00FF0000, green 0x0000FF00 as little-endian words.
        for (int x = 0; x < kWidth; ++x)
            pixel[x] = x < kWidth / 2 ? 0xFFFF0000u : 0xFF00FF00u;
        if (row < kSquare) {
            for (int x = left; x < left + kSquare; ++x)
                pixel[x] = 0xFFFFFFFFu;
        }
    }
    frame.unmap();
    return frame;
}

void SyntheticCamera::start(Handler onPicture)
{
    stop();
    m_running = true;
    m_thread = std::thread([this, onPicture = std::move(onPicture)] {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point begun = Clock::now();
        const auto interval = std::chrono::microseconds(1'000'000 / kPicturesPerSecond);
        Clock::time_point next = begun;
        while (m_running) {
            const int64_t elapsedUs =
                std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - begun).count();
            onPicture(picture(elapsedUs));
            next += interval;
            // Paced like a real camera; a late picture is not made up for.
            if (next < Clock::now())
                next = Clock::now();
            std::this_thread::sleep_until(next);
        }
    });
}

void SyntheticCamera::stop()
{
    m_running = false;
    if (m_thread.joinable())
        m_thread.join();
}
