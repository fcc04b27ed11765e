#pragma once

#include <QVideoFrame>

#include <functional>
#include <memory>

// A camera's pictures as they come, for the bubble and for the video. The
// pictures are the camera's own (any pixel format Qt Multimedia knows); whoever
// takes them converts what it needs. A real camera (Qt Multimedia's QCamera
// feeding a QVideoSink) and the synthetic test camera both sit behind it.
class CameraFrames {
public:
    using Handler = std::function<void(const QVideoFrame &picture)>;
    virtual ~CameraFrames() = default;
    // Starts the camera. Each picture goes to `onPicture` on a thread of the
    // source's choosing, one at a time, until stop(). Throws MivraError (a
    // camera error) when the camera cannot be opened.
    virtual void start(Handler onPicture) = 0;
    // Stops the camera and waits: no handler runs after it returns.
    virtual void stop() = 0;
};

// The camera the environment asks for: MIVRA_CAMERA=test gives the synthetic
// one; otherwise none yet (null).
std::unique_ptr<CameraFrames> makeCameraFrames();
