#pragma once

#include <QCoroTask>
#include <QString>
#include <QVideoFrame>

#include <functional>

class AppState;
class QScreen;
class QWindow;

// What the state needs from the components it drives during a recording.
// The real recording bar, camera bubble, compositor and thumbnail cache
// implement these; until they land the app runs on substitutes.

// One raw camera picture, handed on from the bubble's frame queue.
using CameraFrameHandler = std::function<void(const QVideoFrame &frame)>;

// The floating control panel shown while recording.
class RecordingBarControl {
public:
    virtual ~RecordingBarControl() = default;
    // Shows the bar on `screen`, bound to `state`; with `showHint` the first-use hint too.
    virtual void show(QScreen *screen, AppState *state, bool showHint) = 0;
    // Places the bar beside the bubble window and follows it.
    virtual void attach(QWindow *bubbleWindow) = 0;
    virtual void detach() = 0;
    // Orders the panel out and drops its content; after detach.
    virtual void hide() = 0;
};

// The round camera window.
class CameraBubbleControl {
public:
    virtual ~CameraBubbleControl() = default;
    // Whether screen captures may show the window (false while it is drawn into the video).
    virtual void setCapturable(bool capturable) = 0;
    // The bubble window, when it exists.
    virtual QWindow *panel() const = 0;
    // Returns once the bubble is visible and the camera runs; throws a MivraError
    // (a camera error) when it cannot.
    virtual QCoro::Task<> show(QScreen *screen) = 0;
    // Each raw camera frame goes to `handler` on the bubble's frame queue.
    virtual void startFrames(CameraFrameHandler handler) = 0;
    virtual void stopFrames() = 0;
    // Window ordered out, camera stopped.
    virtual void hide() = 0;
};

// Implemented by a recorder that can draw the bubble into the video.
class CompositorIntake {
public:
    virtual ~CompositorIntake() = default;
    // Present after a start with a bubble spot: hands a camera frame to the
    // compositor on its own queue. Empty otherwise.
    virtual CameraFrameHandler cameraIntake() = 0;
};

// The thumbnail cache.
class ThumbnailMaker {
public:
    virtual ~ThumbnailMaker() = default;
    // Makes the thumbnail of a new link from its local file, or gives up; never throws.
    virtual QCoro::Task<> make(QString id, QString filePath) = 0;
    // Deletes a link's thumbnail; failures are ignored.
    virtual void remove(const QString &id) = 0;
};
